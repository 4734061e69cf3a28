#pragma once

#include <cstdint>

// later - earlier in counter ticks, wrapping at the 64-bit limits; done in
// unsigned, so a wrap is defined rather than undefined signed overflow.
inline int64_t WrappingDifference(int64_t later, int64_t earlier)
{
    return static_cast<int64_t>(static_cast<uint64_t>(later) - static_cast<uint64_t>(earlier));
}

// Turns performance-counter readings into interval samples: the time between
// two consecutive mouse signals, in milliseconds.
//
// Call Calibrate once, then Lap once per signal. A quiet period calls nothing,
// so the next lap spans it. The clock validates nothing: a frequency below
// 1000 ticks per second gives zero ticks per millisecond, and every lap then
// returns an infinity (or NaN for a zero difference) that the report shows as
// "inf"/"nan" with 0 Hz.
class TickClock {
public:
    // frequency in ticks per second; first and second are two counter
    // readings taken back to back, the earlier first.
    void Calibrate(int64_t frequency, int64_t first, int64_t second);

    // Ends the current interval at reading and starts the next one there.
    // The read overhead measured at calibration is taken off every interval.
    float Lap(int64_t reading);

private:
    int64_t ticksPerMs_ = 0;
    int64_t readOverhead_ = 0;
    int64_t lastReading_ = 0;
};
