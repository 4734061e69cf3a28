// What the measurement thread spends on one mouse signal, without the
// platform: every microsecond here delays the next wait, and at 8000 Hz
// signals are 125 us apart.
#include "measure/rate_report.h"
#include "measure/sample_window.h"
#include "measure/tick_clock.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr int64_t kFrequency = 10'000'000;
constexpr int64_t kGap = 1'250;  // 8000 Hz at 10 MHz

// Lap, Add, Evaluate and Format: the whole core path for one signal.
void BM_EventCorePath(benchmark::State& state)
{
    TickClock clock;
    clock.Calibrate(kFrequency, 0, 0);
    SampleWindow window;
    RateReport report;
    int64_t reading = 0;
    for (auto _ : state) {
        reading += kGap + (reading & 7);  // a little jitter, as a real mouse has
        const float sample = clock.Lap(reading);
        window.Add(sample);
        const double average = window.Evaluate();
        report.Format(sample, average, window.Peak());
        benchmark::DoNotOptimize(report.Text());
    }
}
BENCHMARK(BM_EventCorePath);

void BM_LapAddEvaluate(benchmark::State& state)
{
    TickClock clock;
    clock.Calibrate(kFrequency, 0, 0);
    SampleWindow window;
    int64_t reading = 0;
    for (auto _ : state) {
        reading += kGap + (reading & 7);
        window.Add(clock.Lap(reading));
        benchmark::DoNotOptimize(window.Evaluate());
    }
}
BENCHMARK(BM_LapAddEvaluate);

void BM_Format(benchmark::State& state)
{
    RateReport report;
    float sample = 0.125f;
    for (auto _ : state) {
        sample += 0.001f;
        report.Format(sample, 0.1251234, 0.1249f);
        benchmark::DoNotOptimize(report.Text());
    }
}
BENCHMARK(BM_Format);

}  // namespace

BENCHMARK_MAIN();
