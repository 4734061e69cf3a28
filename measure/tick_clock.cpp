#include "measure/tick_clock.h"

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
