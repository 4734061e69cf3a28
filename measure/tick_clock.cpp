#include "measure/tick_clock.h"

namespace {

// a - b, wrapping at the 64-bit limits as the counter's arithmetic does;
// in unsigned, so a wrap is defined rather than undefined signed overflow.
int64_t WrappingDifference(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

}  // namespace

void TickClock::Calibrate(int64_t frequency, int64_t first, int64_t second)
{
    ticksPerMs_ = frequency / 1000;
    readOverhead_ = WrappingDifference(second, first);
    lastReading_ = first;
}

float TickClock::Lap(int64_t reading)
{
    const int64_t difference = WrappingDifference(WrappingDifference(reading, readOverhead_), lastReading_);
    lastReading_ = reading;
    return static_cast<float>(static_cast<double>(difference) / static_cast<double>(ticksPerMs_));
}
