#pragma once

#include <cstdint>

// The three-line text the status dialog shows:
//
//   Current: 8.00ms 125Hz
//   Average: 8.00ms 125Hz
//   Peak: 0.00ms 0Hz
//
// Milliseconds carry two decimals, rounded in two stages: first to 17
// significant digits, then cut after the second decimal with a dropped digit
// of 5 or more rounding up (0.125 shows as 0.13). The C libraries we build
// against round such ties differently, so the figures are laid out here rather
// than by "%0.2f", and the text is the same in every build.
//
// A millisecond value that is infinite or not a number (only a counter slower
// than 1000 ticks per second makes one) shows as "inf", "-inf" or "nan", with
// 0Hz beside it.
class RateReport {
public:
    static constexpr int kBufferSize = 500;

    // 1000 / ms truncated toward zero, to 64 bits and then to its low 32 bits.
    // NaN, infinities and quotients outside the 64-bit range give 0, so an
    // unset peak or a zero sample shows 0Hz.
    static int32_t Hertz(double ms);

    void Format(float current, double average, float peak);

    const char* Text() const { return buffer_; }

private:
    char buffer_[500] = {};
};
