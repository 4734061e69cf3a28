// These cases run unchanged in every build (host, 32-bit, Windows under Wine):
// they are what makes the report's bytes independent of the C library.
#include "measure/rate_report.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Report(float current, double average, float peak)
{
    RateReport report;
    report.Format(current, average, peak);
    return report.Text();
}

// The first line alone shows one figure's two-decimal form and its hertz.
std::string CurrentLine(float current)
{
    const std::string text = Report(current, 1.0, 1.0f);
    return text.substr(0, text.find('\n'));
}

TEST(RateReport, WholeTexts)
{
    struct Case { float current; double average; float peak; const char* text; };
    const Case cases[] = {
        {8.0f, 8.0, 0.0f,
         "Current: 8.00ms 125Hz\nAverage: 8.00ms 125Hz\nPeak: 0.00ms 0Hz"},
        {2.0f, 7.88, 7.88f,
         "Current: 2.00ms 500Hz\nAverage: 7.88ms 126Hz\nPeak: 7.88ms 126Hz"},
        {0.125f, 0.125, 0.125f,
         "Current: 0.13ms 8000Hz\nAverage: 0.13ms 8000Hz\nPeak: 0.13ms 8000Hz"},
        {-FLT_MAX, -FLT_MAX, FLT_MAX,  // the longest finite figures a float gives
         "Current: -340282346638528860000000000000000000000.00ms 0Hz\n"
         "Average: -340282346638528860000000000000000000000.00ms 0Hz\n"
         "Peak: 340282346638528860000000000000000000000.00ms 0Hz"},
        {std::numeric_limits<float>::quiet_NaN(), kInf, -std::numeric_limits<float>::infinity(),
         "Current: nanms 0Hz\nAverage: infms 0Hz\nPeak: -infms 0Hz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Report(c.current, c.average, c.peak), c.text);
    }
}

TEST(RateReport, SingleFigures)
{
    struct Case { float current; const char* line; };
    const Case cases[] = {
        {1.9996f, "Current: 2.00ms 500Hz"},   // 1000 / 1.9996 = 500.1
        {8.01f, "Current: 8.01ms 124Hz"},     // truncated, not rounded
        {0.999f, "Current: 1.00ms 1001Hz"},
        {1.0f, "Current: 1.00ms 1000Hz"},
        {0.0f, "Current: 0.00ms 0Hz"},
        {-2.5f, "Current: -2.50ms -400Hz"},
        {0.375f, "Current: 0.38ms 2666Hz"},   // an exact half rounds up
        {99.999f, "Current: 100.00ms 10Hz"},  // the carry adds a digit
        {0.006f, "Current: 0.01ms 166666Hz"},
        {0.005f, "Current: 0.00ms 200000Hz"},  // the float lies below 0.005
        {0.0004f, "Current: 0.00ms 2500000Hz"},
        {-0.001f, "Current: -0.00ms -999999Hz"},  // the sign stays, as C prints it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(CurrentLine(c.current), c.line);
    }
}

TEST(RateReport, RoundsToSeventeenDigitsBeforeCuttingAfterTwoDecimals)
{
    // 1e15 + 0.125 is exact in double. Its 17 significant digits end in
    // "...001", so the hundredths come out as .10; a single rounding of the
    // exact value would give .12 or .13.
    const std::string text = Report(1.0f, 1e15 + 0.125, 1.0f);
    EXPECT_NE(text.find("Average: 1000000000000000.10ms 0Hz"), std::string::npos) << text;

    // 10.135 is stored just below 10.135, but its 17 digits read
    // 10.135000000000000, whose dropped 5 rounds up.
    EXPECT_NE(Report(1.0f, 10.135, 1.0f).find("Average: 10.14ms 98Hz"), std::string::npos);

    // An exact half at the 17th digit rounds to even, as C's conversions do:
    // ...456.2|5 keeps the 2, so the hundredths read .20, not .30.
    EXPECT_NE(Report(1.0f, 1234567890123456.25, 1.0f).find("Average: 1234567890123456.20ms 0Hz"),
              std::string::npos);
}

// The two-stage rule carried out on the C library's own 17 correctly rounded
// digits, by string work: slow, but an independent account of the figures.
std::string TwoStageReference(double ms)
{
    char scientific[40];
    std::snprintf(scientific, sizeof scientific, "%.16e", std::fabs(ms));
    std::string digits = std::string(1, scientific[0]) + std::string(scientific + 2, 16);
    const int hundredthsShift = std::atoi(scientific + 19) - 16 + 2;  // digits * 10^shift = ms * 100
    if (hundredthsShift >= 0) {
        digits.append(hundredthsShift, '0');
    } else {
        const int keep = 17 + hundredthsShift;
        const bool up = keep >= 0 && digits[keep] >= '5';
        digits = keep > 0 ? digits.substr(0, keep) : "0";
        for (int i = static_cast<int>(digits.size()) - 1; up; --i) {
            if (i < 0) {
                digits = std::string("1") + digits;
                break;
            }
            if (digits[i] != '9') {
                ++digits[i];
                break;
            }
            digits[i] = '0';
        }
    }
    if (digits.size() < 3)
        digits = std::string(3 - digits.size(), '0') + digits;
    const size_t point = digits.size() - 2;
    std::string text = std::signbit(ms) ? "-" : "";
    text.append(digits, 0, point).append(".").append(digits, point);
    return text;
}

TEST(RateReport, AgreesWithTheRuleAcrossMagnitudesAndNearTies)
{
    std::mt19937_64 random(20261211);
    std::uniform_real_distribution<double> unit(1.0, 10.0);
    std::vector<double> values;
    for (int power = -5; power <= 19; ++power)
        for (int i = 0; i < 400; ++i)
            values.push_back(unit(random) * std::pow(10.0, power));
    for (int power = 20; power <= 307; ++power)  // whole numbers far beyond any real figure
        for (int i = 0; i < 10; ++i)
            values.push_back(unit(random) * std::pow(10.0, power));
    values.push_back(DBL_MAX);
    // Thousandths that end in 5, and the doubles on either side of them.
    for (int i = 0; i < 2000; ++i) {
        const double tie = std::floor(unit(random) * std::pow(10.0, i % 16)) + (random() % 200) / 100.0 + 0.005;
        values.push_back(std::nextafter(tie, 0.0));
        values.push_back(tie);
        values.push_back(std::nextafter(tie, 1e300));
    }
    for (double value : values) {
        for (double ms : {value, -value}) {
            const std::string expected = "Average: " + TwoStageReference(ms) + "ms ";
            const std::string text = Report(1.0f, ms, 1.0f);
            ASSERT_NE(text.find(expected), std::string::npos) << text << "\nexpected " << expected;
        }
    }
}

TEST(RateReport, Hertz)
{
    struct Case { double ms; int32_t hertz; };
    const Case cases[] = {
        {8.0, 125},
        {8.01, 124},
        {0.125, 8000},
        {1000.0 / 7, 7},    // the double quotient is exactly 7; x87 precision would give 6
        {1000.0 / 9, 9},
        {-2.5, -400},
        {0.0, 0},
        {-0.0, 0},
        {kInf, 0},
        {-kInf, 0},
        {kNaN, 0},
        {1e-12, -1530494976},         // 10^15 keeps its low 32 bits
        {1e-6, 1000000000},
        {1000.0 / 4294967296.0, 0},   // 2^32 truncates to 0 in 32 bits
        {1e-17, 0},                   // 10^20: beyond 64 bits
        {-1e-17, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        EXPECT_EQ(RateReport::Hertz(c.ms), c.hertz);
    }
}

TEST(RateReport, EachFormatClearsTheWholeBuffer)
{
    RateReport report;
    report.Format(-FLT_MAX, -FLT_MAX, FLT_MAX);
    report.Format(8.0f, 8.0, 0.0f);
    const char* text = report.Text();
    const size_t length = std::strlen(text);
    EXPECT_EQ(length, std::strlen("Current: 8.00ms 125Hz\nAverage: 8.00ms 125Hz\nPeak: 0.00ms 0Hz"));
    for (size_t i = length; i < RateReport::kBufferSize; ++i)
        ASSERT_EQ(text[i], '\0') << "at " << i;
}

TEST(RateReport, LargestDoubleStillFits)
{
    const std::string text = Report(1.0f, DBL_MAX, 1.0f);
    EXPECT_LT(text.size(), static_cast<size_t>(RateReport::kBufferSize));
    EXPECT_EQ(text.substr(text.size() - std::strlen("Peak: 1.00ms 1000Hz")), "Peak: 1.00ms 1000Hz");
    EXPECT_NE(text.find("Average: 17976931348623157" + std::string(292, '0') + ".00ms 0Hz"),
              std::string::npos);
}

}  // namespace
