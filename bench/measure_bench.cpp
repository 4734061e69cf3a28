// What the measurement thread spends on one mouse signal, without the
// platform: every microsecond here delays the next wait, and at 8000 Hz
// signals are 125 us apart.
#include "measure/poll_thread.h"
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

// The thread's loop over a platform whose every wait returns a signal at a
// steady rate of fake counter time; the write does nothing. Counters:
// events handled per second of real time, and the share that caused a write.
struct SteadySource {
    int64_t gap;            // ticks between signals
    int64_t signalsLeft;
    int64_t now = 0;
    int64_t writes = 0;

    int64_t CounterFrequency() { return kFrequency; }
    int64_t Counter() { return now; }
    bool WaitForSignal(uint32_t)
    {
        now += gap;
        --signalsLeft;
        return true;
    }
    bool Polling() { return signalsLeft > 0; }
    uintptr_t StatusDialog() { return 1; }
    void WriteReport(uintptr_t, const char* text)
    {
        benchmark::DoNotOptimize(text);
        ++writes;
    }
};

void BM_PollLoop(benchmark::State& state)
{
    const int64_t rate = state.range(0);
    constexpr int64_t kSignals = 100'000;
    int64_t writes = 0;
    for (auto _ : state) {
        SteadySource source{kFrequency / rate, kSignals};
        benchmark::DoNotOptimize(PollLoop(source));
        writes += source.writes;
    }
    state.counters["events/s"] = benchmark::Counter(static_cast<double>(kSignals), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["write share"] = static_cast<double>(writes) / static_cast<double>(kSignals * state.iterations());
}
BENCHMARK(BM_PollLoop)->ArgName("Hz")->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
