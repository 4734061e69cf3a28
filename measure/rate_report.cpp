#include "measure/rate_report.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Room for any double: a sign, 309 integer digits, the point, two decimals.
constexpr int kFigureSize = 320;

constexpr uint64_t kPow10[] = {
    1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull,
    100000000ull, 1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull,
    10000000000000ull, 100000000000000ull, 1000000000000000ull, 10000000000000000ull,
    100000000000000000ull, 1000000000000000000ull, 10000000000000000000ull,
};

// 10^n = 5^n * 2^n: the powers of five carry the scaling, the twos go in the shift.
constexpr uint64_t kPow5[] = {
    1ull, 5ull, 25ull, 125ull, 625ull, 3125ull, 15625ull, 78125ull, 390625ull, 1953125ull,
    9765625ull, 48828125ull, 244140625ull, 1220703125ull, 6103515625ull, 30517578125ull,
    152587890625ull, 762939453125ull, 3814697265625ull, 19073486328125ull,
};

// a * b as a 128-bit value, portably.
struct U128 {
    uint64_t hi, lo;
};

U128 Multiply(uint64_t a, uint64_t b)
{
    const uint64_t aLo = a & 0xFFFFFFFFu, aHi = a >> 32, bLo = b & 0xFFFFFFFFu, bHi = b >> 32;
    const uint64_t p0 = aLo * bLo, p1 = aLo * bHi, p2 = aHi * bLo, p3 = aHi * bHi;
    const uint64_t mid = (p0 >> 32) + (p1 & 0xFFFFFFFFu) + (p2 & 0xFFFFFFFFu);
    return {p3 + (p1 >> 32) + (p2 >> 32) + (mid >> 32), (mid << 32) | (p0 & 0xFFFFFFFFu)};
}

// x / 2^shift rounded to the nearest integer, ties to even, for 0 < shift < 128
// and a quotient below 2^64.
uint64_t ShiftRounded(U128 x, int shift)
{
    uint64_t quotient, rest;  // rest: the dropped bits, left-aligned in 64 bits
    bool restBelow = false;   // any dropped bits beyond those in rest
    if (shift < 64) {
        quotient = (x.lo >> shift) | (x.hi << (64 - shift));
        rest = x.lo << (64 - shift);
    } else {
        quotient = shift == 64 ? x.hi : x.hi >> (shift - 64);
        rest = shift == 64 ? x.lo : (x.hi << (128 - shift)) | (x.lo >> (shift - 64));
        restBelow = shift > 64 && (x.lo << (128 - shift)) != 0;
    }
    const uint64_t half = 1ull << 63;
    if (rest > half || (rest == half && (restBelow || (quotient & 1))))
        ++quotient;
    return quotient;
}

// |ms| rounded to 17 significant digits: the digits as an integer of exactly
// 17 digits, and how many of them stand before the decimal point. Exact for
// 0.001 <= |ms| < 1e17, the range the fast path below serves.
uint64_t SeventeenDigits(double ms, int& integerDigits)
{
    // |ms| = mantissa * 2^exponent exactly; values this large are normal.
    uint64_t bits;
    std::memcpy(&bits, &ms, sizeof bits);
    const uint64_t mantissa = (bits & ((1ull << 52) - 1)) | (1ull << 52);
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF) - 1075;

    // |ms| * 10^(17 - k) rounded, for a k that gives it 17 digits.
    auto rounded = [&](int k) {
        const int n = std::clamp(17 - k, 0, 19);  // always within: 0.001 <= |ms| < 1e17
        const U128 scaled = Multiply(mantissa, kPow5[n]);

        const int shift = exponent + n;
        return shift >= 0 ? scaled.lo << shift : ShiftRounded(scaled, -shift);
    };

    // A guess from the binary exponent is right or one too many; a rounding
    // up to the next power of ten adds one back.
    integerDigits = std::clamp(static_cast<int>(std::floor((exponent + 53) * 0.30102999566398120)) + 1, -1, 17);
    uint64_t digits = rounded(integerDigits);
    if (digits < kPow10[16])
        digits = rounded(--integerDigits);
    if (digits >= kPow10[17])
        digits = rounded(++integerDigits);
    return digits;
}

// Writes value in decimal, zero-padded to at least minDigits; returns the end.
char* WriteDigits(uint64_t value, int minDigits, char* out)
{
    char reversed[20];
    int length = 0;
    do {
        reversed[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 || length < minDigits);
    while (length > 0)
        *out++ = reversed[--length];
    return out;
}

// Writes a whole number of at least 18 digits (any double from 1e17 up) as
// its 17 significant digits, rounded, followed by zeros; returns
// the end. The number is mantissa * 2^exponent, worked out exactly in base
// 10^9 limbs, least significant first.
char* LargeWholeNumber(double value, char* out)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    int exponent = static_cast<int>((bits >> 52) & 0x7FF) - 1075;  // at least 4 here
    const uint64_t mantissa = (bits & ((1ull << 52) - 1)) | (1ull << 52);

    constexpr uint32_t kBase = 1'000'000'000;
    uint32_t limbs[36] = {static_cast<uint32_t>(mantissa % kBase), static_cast<uint32_t>(mantissa / kBase)};
    int count = 2;
    while (exponent > 0) {
        const int step = exponent < 29 ? exponent : 29;  // limb * 2^29 + carry fits 64 bits
        uint64_t carry = 0;
        for (int i = 0; i < count; ++i) {
            const uint64_t product = (static_cast<uint64_t>(limbs[i]) << step) + carry;
            limbs[i] = static_cast<uint32_t>(product % kBase);
            carry = product / kBase;
        }
        if (carry != 0)
            limbs[count++] = static_cast<uint32_t>(carry);
        exponent -= step;
    }

    char digits[36 * 9 + 1];
    int length = 0;
    for (int i = count - 1; i >= 0; --i) {
        for (uint32_t unit = kBase / 10; unit > 0; unit /= 10) {
            const char digit = static_cast<char>('0' + limbs[i] / unit % 10);
            if (length > 0 || digit != '0')
                digits[length++] = digit;
        }
    }

    // Round to 17 digits. No tie rule is needed: an exact half (a 5 and then
    // only zeros) has fewer factors of two than any double of 18 digits has.
    bool up = digits[17] >= '5';
    for (int i = 16; up && i >= 0; --i) {
        up = digits[i] == '9';
        digits[i] = up ? '0' : static_cast<char>(digits[i] + 1);
    }
    if (up)  // 99...9 became 100...0: one digit longer
        *out++ = '1';
    std::memcpy(out, digits, 17);
    std::memset(out + 17, '0', length - 17);
    return out + length;
}

// Writes ms with exactly two decimals by the two-stage rule.
void FormatMilliseconds(double ms, char (&out)[kFigureSize])
{
    if (std::isnan(ms)) {
        std::strcpy(out, "nan");
        return;
    }
    if (std::isinf(ms)) {
        std::strcpy(out, ms < 0 ? "-inf" : "inf");
        return;
    }

    char* p = out;
    if (std::signbit(ms))
        *p++ = '-';
    const double magnitude = std::fabs(ms);

    if (magnitude < 0.001) {
        // Seventeen digits of anything this small stay below 0.005.
        std::strcpy(p, "0.00");
        return;
    }

    if (magnitude >= 1e17) {
        // A whole number this large: its 17 leading digits, rounded, then zeros.
        p = LargeWholeNumber(magnitude, p);
        std::strcpy(p, ".00");
        return;
    }

    // Hundredths: the 17 digits cut after the second decimal, a first
    // dropped digit of 5 or more rounding up.
    int integerDigits;
    const uint64_t digits = SeventeenDigits(magnitude, integerDigits);
    uint64_t hundredths;
    if (integerDigits >= 15) {
        hundredths = digits * kPow10[integerDigits - 15];
    } else {
        const uint64_t dropped = kPow10[15 - integerDigits];
        hundredths = digits / dropped + (digits % dropped >= dropped / 2 ? 1 : 0);
    }

    p = WriteDigits(hundredths / 100, 1, p);
    *p++ = '.';
    p = WriteDigits(hundredths % 100, 2, p);
    *p = '\0';
}

void FormatInteger(int32_t value, char (&out)[kFigureSize])
{
    char* p = out;
    auto magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        *p++ = '-';
        magnitude = 0u - magnitude;
    }
    *WriteDigits(magnitude, 1, p) = '\0';
}

}  // namespace

int32_t RateReport::Hertz(double ms)
{
    const double q = 1000.0 / ms;
    // 2^63 bounds the signed 64-bit range; NaN fails both comparisons.
    if (!(q >= -9223372036854775808.0 && q < 9223372036854775808.0))
        return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(q))));
}

void RateReport::Format(float current, double average, float peak)
{
    // The report's template, as C's formatted print would take it. Its
    // directives are carried out here: "%0.2f" by the two-stage rule above,
    // which C libraries do not agree on, and "%d" for the hertz figures.
    static constexpr char kTemplate[] = "Current: %0.2fms %dHz\nAverage: %0.2fms %dHz\nPeak: %0.2fms %dHz";
    const double figures[] = {current, average, peak};

    std::memset(buffer_, 0, sizeof buffer_);
    char* out = buffer_;
    char* const end = buffer_ + sizeof buffer_ - 1;  // keeps the closing zero byte
    auto put = [&](const char* text) {
        while (*text && out < end)
            *out++ = *text++;
    };

    int figure = 0;
    char field[kFigureSize];
    for (const char* t = kTemplate; *t; ++t) {
        if (t[0] != '%') {
            if (out < end)
                *out++ = *t;
        } else if (t[1] == 'd') {
            FormatInteger(Hertz(figures[figure++]), field);
            put(field);
            t += 1;
        } else {  // "%0.2f"
            FormatMilliseconds(figures[figure], field);
            put(field);
            t += 4;
        }
    }
}
