#pragma once

// Diagnostics: where the measurement thread's time goes. StepTimer wraps the
// thread's platform, times every call to it and every stretch between two
// calls, and names each stretch by the calls around it, so the loop itself
// stays untouched. Built into the program only with PINDRAL_STEP_TIMES; the
// summary goes to the file that environment variable names.

#include <cstdint>
#include <cstdio>
#include <cstring>

template <class Platform>
class StepTimer {
public:
    explicit StepTimer(Platform& platform) : platform_(platform) {}

    int64_t CounterFrequency()
    {
        frequency_ = platform_.CounterFrequency();
        return frequency_;
    }

    int64_t Counter()
    {
        const bool afterSignal = previous_ == kWaitSignalled;
        Enter(kCounter);
        const int64_t reading = platform_.Counter();
        if (afterSignal) {
            if (lastSignalReading_ != 0)
                Add(kCycle, reading - lastSignalReading_);
            lastSignalReading_ = reading;
        }
        Leave(kCounter);
        return reading;
    }

    bool WaitForSignal(uint32_t ms)
    {
        Enter(kWaitCall);
        const bool signalled = platform_.WaitForSignal(ms);
        Add(signalled ? kWaitWithSignal : kWaitWithout, platform_.Counter() - last_);
        Leave(signalled ? kWaitSignalled : kWaitTimedOut);
        return signalled;
    }

    bool Polling()
    {
        Enter(kPolling);
        const bool polling = platform_.Polling();
        Leave(kPolling);
        return polling;
    }

    auto StatusDialog()
    {
        Enter(kDialog);
        const auto dialog = platform_.StatusDialog();
        Leave(kDialog);
        return dialog;
    }

    template <class Dialog>
    void WriteReport(Dialog dialog, const char* text)
    {
        Enter(kWrite);
        platform_.WriteReport(dialog, text);
        Add(kWriteCall, platform_.Counter() - last_);
        Leave(kWrite);
    }

    // Writes the summary: one line per stretch, with its count, mean and
    // longest time in microseconds.
    void Report(std::FILE* file) const
    {
        const double us = 1e6 / static_cast<double>(frequency_);
        std::fprintf(file, "%-46s %10s %10s %10s\n", "stretch", "count", "mean us", "max us");
        for (int i = 0; i < kStretches; ++i) {
            if (count_[i] != 0)
                std::fprintf(file, "%-46s %10lld %10.2f %10.2f\n", kNames[i], static_cast<long long>(count_[i]),
                             static_cast<double>(total_[i]) / static_cast<double>(count_[i]) * us,
                             static_cast<double>(max_[i]) * us);
        }
    }

    int64_t Count(const char* stretch) const
    {
        for (int i = 0; i < kStretches; ++i)
            if (std::strcmp(kNames[i], stretch) == 0)
                return count_[i];
        return -1;
    }

private:
    enum Call { kNone, kCounter, kWaitCall, kWaitSignalled, kWaitTimedOut, kPolling, kDialog, kWrite };
    enum Stretch {
        kSignalToRead, kLapAdd, kEvaluateKeep, kEvaluateFormat, kHandleToWrite, kWriteCall, kAfterWrite,
        kFlagToWait, kWaitWithSignal, kWaitWithout, kQuietToFlag, kQuietToWrite, kStartUp, kCycle, kOther, kStretches
    };
    static constexpr const char* kNames[kStretches] = {
        "wait returned -> counter read",
        "counter read -> handle read (lap, add)",
        "handle read -> flag test (evaluate, pending)",
        "handle read -> handle read (evaluate, format)",
        "handle read -> write",
        "write (the text to the dialog)",
        "write -> flag test",
        "flag test -> wait (its limit)",
        "wait that ends with a signal",
        "wait that ends without one",
        "quiet wait -> flag test",
        "quiet wait -> handle read (format pending)",
        "start-up (calibration reads, first flag test)",
        "one signal's reading to the next",
        "other",
    };

    // The stretch between two calls, by the loop's order of steps.
    static Stretch Between(Call from, Call to)
    {
        if (from == kWaitSignalled && to == kCounter)
            return kSignalToRead;
        if (from == kCounter && to == kDialog)
            return kLapAdd;
        if (from == kDialog && to == kPolling)
            return kEvaluateKeep;
        if (from == kDialog && to == kDialog)
            return kEvaluateFormat;
        if (from == kDialog && to == kWrite)
            return kHandleToWrite;
        if (from == kWrite && to == kPolling)
            return kAfterWrite;
        if (from == kPolling && to == kWaitCall)
            return kFlagToWait;
        if (from == kWaitTimedOut && to == kPolling)
            return kQuietToFlag;
        if (from == kWaitTimedOut && to == kDialog)
            return kQuietToWrite;
        if (from == kCounter && (to == kCounter || to == kPolling))
            return kStartUp;
        return kOther;
    }

    void Enter(Call call)
    {
        const int64_t now = platform_.Counter();
        if (previous_ != kNone)
            Add(Between(previous_, call), now - last_);
        last_ = now;
    }

    void Leave(Call call)
    {
        last_ = platform_.Counter();
        previous_ = call;
    }

    void Add(Stretch stretch, int64_t ticks)
    {
        ++count_[stretch];
        total_[stretch] += ticks;
        if (ticks > max_[stretch])
            max_[stretch] = ticks;
    }

    Platform& platform_;
    int64_t frequency_ = 1;
    int64_t last_ = 0;
    int64_t lastSignalReading_ = 0;
    Call previous_ = kNone;
    int64_t count_[kStretches] = {};
    int64_t total_[kStretches] = {};
    int64_t max_[kStretches] = {};
};
