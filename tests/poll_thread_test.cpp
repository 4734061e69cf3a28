#include "measure/poll_thread.h"
#include "measure/step_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kFrequency = 10'000'000;  // 10,000 ticks per millisecond
constexpr int64_t kFirst = 1'000;           // calibration readings: overhead 4 ticks
constexpr int64_t kSecond = 1'004;
constexpr uintptr_t kDialog = 0xD1A1;

// One wait of the script: whether it ends with a signal and, if so, when:
// milliseconds since the first calibration reading, laps taken. The counter
// reads 4 ticks later per signal (the read overhead), so laps come out exact.
struct Wait {
    bool signalled;
    double atMs = 0.0;
};

Wait Signal(double atMs) { return {true, atMs}; }
const Wait kTimeout{false};

struct Write {
    uintptr_t dialog;
    std::string text;
    size_t wait;  // how many waits had returned when it was written
};

// Plays a script of waits and records everything the loop does. The run flag
// reads 1 until the script is used up, then 0; the dialog handle reads null
// until the wait numbered dialogFromWait (0-based) has begun.
class ScriptedPlatform {
public:
    explicit ScriptedPlatform(std::vector<Wait> script, size_t dialogFromWait = 0)
        : script_(std::move(script)), dialogFromWait_(dialogFromWait)
    {
    }

    int64_t CounterFrequency()
    {
        calls.push_back("frequency");
        return kFrequency;
    }

    int64_t Counter()
    {
        calls.push_back("counter");
        if (counterReads_++ < 2)
            return counterReads_ == 1 ? kFirst : kSecond;
        const Wait& last = script_.at(waits_ - 1);
        EXPECT_TRUE(last.signalled) << "counter read after a wait without a signal";
        signalsRead_++;
        return kFirst + static_cast<int64_t>(last.atMs * 10'000 + 0.5) + 4 * signalsRead_;
    }

    bool WaitForSignal(uint32_t ms)
    {
        calls.push_back("wait");
        limits.push_back(ms);
        return script_.at(waits_++).signalled;
    }

    bool Polling()
    {
        calls.push_back("polling");
        return waits_ < script_.size();
    }

    uintptr_t StatusDialog() { return waits_ > dialogFromWait_ ? dialog : 0; }

    void WriteReport(uintptr_t target, const char* text)
    {
        calls.push_back("write");
        writes.push_back({target, text, waits_});
    }

    uintptr_t dialog = kDialog;
    std::vector<std::string> calls;
    std::vector<uint32_t> limits;
    std::vector<Write> writes;

private:
    std::vector<Wait> script_;
    size_t dialogFromWait_;
    size_t waits_ = 0;
    int counterReads_ = 0;
    int signalsRead_ = 0;
};

std::string Text(float current, double average, float peak)
{
    RateReport report;
    report.Format(current, average, peak);
    return report.Text();
}

TEST(PollLoop, CalibratesFirstAndNeverWaitsWhenTheFlagIsAlreadyDown)
{
    ScriptedPlatform platform({});
    EXPECT_EQ(PollLoop(platform), 0u);
    EXPECT_EQ(platform.calls, (std::vector<std::string>{"frequency", "counter", "counter", "polling"}));
}

TEST(PollLoop, ReadsTheCounterFirstAfterASignalAndTestsTheFlagAfterEveryPass)
{
    ScriptedPlatform platform({Signal(1), kTimeout, Signal(401)});
    EXPECT_EQ(PollLoop(platform), 0u);
    EXPECT_EQ(platform.calls, (std::vector<std::string>{
                                  "frequency", "counter", "counter", "polling",
                                  "wait", "counter", "write", "polling",
                                  "wait", "polling",
                                  "wait", "counter", "write", "polling"}));
}

TEST(PollLoop, QuietWaitsChangeNothingAndTheNextIntervalSpansThem)
{
    // Timed-out and failed waits look the same to the loop.
    ScriptedPlatform platform({Signal(1), kTimeout, kTimeout, kTimeout, Signal(401)});
    PollLoop(platform);
    EXPECT_EQ(platform.limits, (std::vector<uint32_t>{200, 200, 200, 200, 200}));
    ASSERT_EQ(platform.writes.size(), 2u);
    EXPECT_EQ(platform.writes[0].text, "Current: 1.00ms 1000Hz\nAverage: 1.00ms 1000Hz\nPeak: 0.00ms 0Hz");
    EXPECT_EQ(platform.writes[1].text, "Current: 400.00ms 2Hz\nAverage: 200.50ms 4Hz\nPeak: 0.00ms 0Hz");
    EXPECT_EQ(platform.writes[1].wait, 5u);
}

TEST(PollLoop, SignalsBeforeTheDialogAreTimedButNeitherShownNorAllowedToSetThePeak)
{
    // 60 signals 1 ms apart with no dialog; had they been evaluated, the peak
    // would read 1.00. Then the dialog appears, and a 2 ms signal follows.
    std::vector<Wait> script;
    for (int i = 1; i <= 60; ++i)
        script.push_back(Signal(i));
    script.push_back(Signal(62));
    ScriptedPlatform platform(script, 60);
    PollLoop(platform);

    ASSERT_EQ(platform.writes.size(), 1u);
    EXPECT_EQ(platform.writes[0].text, "Current: 2.00ms 500Hz\nAverage: 1.02ms 980Hz\nPeak: 1.02ms 980Hz");
    EXPECT_EQ(platform.writes[0].wait, 61u);
}

TEST(PollLoop, ABurstWithinOneFrameGivesOneWriteOfItsLastSignalWhenTheFrameIsUp)
{
    // Written at once at 1 ms; the frame (16.67 ms) is up at 17.67 ms.
    ScriptedPlatform platform({Signal(1), Signal(3), Signal(6), Signal(10), Signal(15), kTimeout, Signal(40)});
    PollLoop(platform);

    // 200 with nothing pending; otherwise the rest of the frame, rounded up.
    EXPECT_EQ(platform.limits, (std::vector<uint32_t>{200, 200, 15, 12, 8, 3, 200}));
    ASSERT_EQ(platform.writes.size(), 3u);
    EXPECT_EQ(platform.writes[0].wait, 1u);
    EXPECT_EQ(platform.writes[0].text, Text(1.0f, 1.0, 0.0f));
    EXPECT_EQ(platform.writes[1].wait, 6u);  // on the timeout, with the figures of the 15 ms signal
    EXPECT_EQ(platform.writes[1].text, "Current: 5.00ms 200Hz\nAverage: 3.00ms 333Hz\nPeak: 0.00ms 0Hz");
    EXPECT_EQ(platform.writes[2].wait, 7u);  // a frame after the last write: at once
    EXPECT_EQ(platform.writes[2].text, Text(25.0f, 40.0 / 6, 0.0f));
}

TEST(PollLoop, ASignalAFrameAfterTheLastWriteIsWrittenAtOnce)
{
    struct Case { double secondAtMs; size_t writes; };
    const Case cases[] = {
        {17.6661, 1},  // 166,665 ticks after the first: within the frame, then dropped at the end
        {17.6662, 2},  // 166,666 ticks: a whole frame has passed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondAtMs);
        ScriptedPlatform platform({Signal(1), Signal(c.secondAtMs)});
        PollLoop(platform);
        EXPECT_EQ(platform.writes.size(), c.writes);
    }
}

TEST(PollLoop, WritesAreAddressedToTheHandleReadAtTheWrite)
{
    // The handle is never cleared in the program, but the loop must not keep
    // an old copy: it changes here before the pending write.
    struct Switching : ScriptedPlatform {
        using ScriptedPlatform::ScriptedPlatform;
        bool WaitForSignal(uint32_t ms)
        {
            if (limits.size() == 2)
                dialog = 0x2222;
            return ScriptedPlatform::WaitForSignal(ms);
        }
    } switching({Signal(1), Signal(2), kTimeout});
    switching.dialog = 0x1111;
    PollLoop(switching);
    ASSERT_EQ(switching.writes.size(), 2u);
    EXPECT_EQ(switching.writes[0].dialog, 0x1111u);
    EXPECT_EQ(switching.writes[1].dialog, 0x2222u);
}

TEST(PollLoop, TheFlagDroppingDuringASignalledWaitEndsTheThreadAfterMeasuringIt)
{
    // The last wait ends with a signal as the flag drops: it is timed and
    // evaluated (its figures pending), then the thread ends and drops them.
    ScriptedPlatform platform({Signal(1), Signal(2)});
    EXPECT_EQ(PollLoop(platform), 0u);
    EXPECT_EQ(platform.calls, (std::vector<std::string>{
                                  "frequency", "counter", "counter", "polling",
                                  "wait", "counter", "write", "polling",
                                  "wait", "counter", "polling"}));
    EXPECT_EQ(platform.writes.size(), 1u);
}

TEST(PollLoop, PeakFollowsEveryEvaluatedWindowThoughWritesArePaced)
{
    // 50 signals of 1 ms fill the window in 50 ms, so most are not written;
    // then one of 0.5 ms lowers the average, and 49 longer ones raise it
    // again. The peak shown must be that lowest average though the signal
    // that set it was never written itself.
    std::vector<Wait> script;
    double at = 0;
    for (int i = 0; i < 50; ++i)
        script.push_back(Signal(at += 1.0));
    script.push_back(Signal(at += 0.5));
    for (int i = 0; i < 49; ++i)
        script.push_back(Signal(at += 2.0));
    script.push_back(kTimeout);
    ScriptedPlatform platform(script);
    PollLoop(platform);

    const float lowest = static_cast<float>((49 * 1.0 + 0.5) / 50);
    ASSERT_FALSE(platform.writes.empty());
    EXPECT_LT(platform.writes.size(), 20u);
    EXPECT_EQ(platform.writes.back().text, Text(2.0f, (49 * 2.0 + 0.5) / 50, lowest))
        << "the last window holds the 0.5 ms signal and 49 of 2 ms";
}

// The diagnostic wrapper names each stretch of the loop by the calls around
// it, and the loop runs through it as through any platform.
TEST(StepTimer, NamesEachStretchOfTheLoop)
{
    // Every counter read is 10 ticks on; at 10 MHz all of this is one frame.
    struct Platform {
        int64_t CounterFrequency() { return kFrequency; }
        int64_t Counter() { return now += 10; }
        bool WaitForSignal(uint32_t) { return waits.at(next++); }
        bool Polling() { return next < waits.size(); }
        uintptr_t StatusDialog() { return kDialog; }
        void WriteReport(uintptr_t, const char*) { ++writes; }
        std::vector<bool> waits;
        size_t next = 0;
        int64_t now = 0;
        int writes = 0;
    } platform{{true, true, true, false, true}};
    StepTimer<Platform> timed(platform);
    EXPECT_EQ(PollLoop(timed), 0u);

    // The first signal is written at once, the next two are kept pending and
    // written when the quiet wait ends; the last is pending when the flag drops.
    EXPECT_EQ(platform.writes, 2);
    struct Case { const char* stretch; int64_t count; };
    const Case cases[] = {
        {"wait that ends with a signal", 4},
        {"wait that ends without one", 1},
        {"wait returned -> counter read", 4},
        {"counter read -> handle read (lap, add)", 4},
        {"handle read -> handle read (evaluate, format)", 1},
        {"handle read -> flag test (evaluate, pending)", 3},
        {"quiet wait -> handle read (format pending)", 1},
        {"handle read -> write", 2},
        {"write (the text to the dialog)", 2},
        {"write -> flag test", 2},
        {"flag test -> wait (its limit)", 5},
        {"one signal's reading to the next", 3},
        {"start-up (calibration reads, first flag test)", 2},
        {"other", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(timed.Count(c.stretch), c.count) << c.stretch;
}

// An auto-reset event: one waiter released per signal, signals that find it
// set add nothing.
class AutoResetEvent {
public:
    void Set()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            set_ = true;
        }
        changed_.notify_one();
    }

    bool Wait(uint32_t ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; }))
            return false;
        set_ = false;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

// The loop on a real second thread, with the flag and the dialog handle in
// atomics as the program holds them, so ThreadSanitizer sees every access.
struct ThreadedPlatform {
    int64_t CounterFrequency() { return 1'000'000'000; }
    int64_t Counter()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool WaitForSignal(uint32_t ms) { return event.Wait(ms); }
    bool Polling() { return polling.load(); }
    uintptr_t StatusDialog() { return dialog.load(); }
    void WriteReport(uintptr_t target, const char* text)
    {
        std::lock_guard<std::mutex> lock(mutex);
        targets.push_back(target);
        texts.emplace_back(text);
    }

    AutoResetEvent event;
    std::atomic<bool> polling{true};
    std::atomic<uintptr_t> dialog{0};
    std::mutex mutex;
    std::vector<uintptr_t> targets;
    std::vector<std::string> texts;
};

TEST(PollLoop, RunsOnItsOwnThreadAndEndsSoonAfterTheFlagDrops)
{
    ThreadedPlatform platform;
    std::atomic<uint32_t> result{1};
    std::thread thread([&] { result = PollLoop(platform); });

    for (int i = 0; i < 20; ++i) {  // timed, not shown
        platform.event.Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto shown = std::chrono::steady_clock::now();
    platform.dialog = kDialog;
    for (int i = 0; i < 100; ++i) {
        platform.event.Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a pending report is due within a frame

    const auto dropped = std::chrono::steady_clock::now();
    platform.polling = false;
    thread.join();
    const auto stopped = std::chrono::steady_clock::now() - dropped;

    EXPECT_EQ(result.load(), 0u);
    std::lock_guard<std::mutex> lock(platform.mutex);
    ASSERT_FALSE(platform.texts.empty());
    for (uintptr_t target : platform.targets)
        EXPECT_EQ(target, kDialog);
    EXPECT_EQ(platform.texts.back().rfind("Current: ", 0), 0u) << platform.texts.back();
    // One write per frame at most, plus the first.
    const auto frames = std::chrono::duration<double>(dropped - shown).count() * 60;
    EXPECT_LE(platform.texts.size(), frames + 2);
    // One wait of at most 200 ms, with a generous margin for a loaded machine.
    EXPECT_LT(stopped, std::chrono::seconds(2));
}

}  // namespace
