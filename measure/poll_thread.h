#pragma once

// The measurement thread: waits on the mouse event, times every signal and
// keeps the status dialog's report current.
//
// The loop is written once, as PollLoop, against a platform that offers
// exactly what the thread uses:
//
//   int64_t CounterFrequency();          ticks per second
//   int64_t Counter();                   the current count
//   bool WaitForSignal(uint32_t ms);     true only when the mouse event was signalled
//   bool Polling();                      the run flag
//   Dialog StatusDialog();               the dialog handle, null until published
//   void WriteReport(Dialog, const char* text);
//
// The Windows build binds it to the performance counter, the mouse event, the
// shared globals and the dialog's text control (PollThreadProc); the tests
// bind it to a scripted fake.

#include "measure/rate_report.h"
#include "measure/sample_window.h"
#include "measure/tick_clock.h"

#include <algorithm>
#include <cstdint>

// The longest wait: how soon the thread sees the run flag drop while the
// mouse is idle.
constexpr uint32_t kWaitLimitMs = 200;

// One display frame, in seconds: the report is written at most this often.
constexpr double kReportInterval = 1.0 / 60;

template <class Platform>
uint32_t PollLoop(Platform& platform)
{
    const int64_t frequency = platform.CounterFrequency();
    const int64_t first = platform.Counter();
    const int64_t second = platform.Counter();
    TickClock clock;
    clock.Calibrate(frequency, first, second);
    SampleWindow window;
    RateReport report;

    // Writing the text waits until the dialog's thread has taken it and
    // repainted, far longer than the gap between reports of a fast mouse, and
    // every signal raised meanwhile merges into one: a thread that wrote after
    // each signal would measure its own display. So the report is written for
    // the newest evaluated signal at most once per display frame; a signal
    // within a frame of the last write leaves its figures pending, and the
    // wait is cut short to write them when the frame is up.
    const auto frameTicks = static_cast<int64_t>(static_cast<double>(frequency) * kReportInterval);
    struct Figures {
        float current;
        double average;
        float peak;
    };
    bool written = false;   // the first evaluated signal is written at once
    int64_t lastWrite = 0;  // counter time of the last write
    bool pending = false;
    Figures pendingFigures{};
    int64_t pendingReading = 0;  // the signal whose figures are pending

    auto write = [&](const Figures& figures) {
        report.Format(figures.current, figures.average, figures.peak);
        platform.WriteReport(platform.StatusDialog(), report.Text());
    };

    bool running = platform.Polling();
    while (running) {
        uint32_t limitMs = kWaitLimitMs;
        if (pending) {
            // Until the frame is up, counted from the pending signal, in whole milliseconds rounded up.
            const int64_t ticksLeft = std::max<int64_t>(
                0, std::min(frameTicks - WrappingDifference(pendingReading, lastWrite), frameTicks));
            limitMs = ticksLeft > 0 ? static_cast<uint32_t>((ticksLeft * 1000 + frequency - 1) / frequency) : 0;
        }

        if (platform.WaitForSignal(limitMs)) {
            const int64_t reading = platform.Counter();  // first: the work below only delays the next wait
            const float current = clock.Lap(reading);
            window.Add(current);
            if (platform.StatusDialog()) {
                const Figures figures{current, window.Evaluate(), window.Peak()};
                if (!written || WrappingDifference(reading, lastWrite) >= frameTicks) {
                    write(figures);
                    written = true;
                    lastWrite = reading;
                    pending = false;
                } else {
                    pending = true;
                    pendingFigures = figures;
                    pendingReading = reading;
                }
            }
        } else if (pending) {
            write(pendingFigures);
            // The time it was due: no counter read without a signal.
            lastWrite = static_cast<int64_t>(static_cast<uint64_t>(lastWrite) + static_cast<uint64_t>(frameTicks));
            pending = false;
        }

        running = platform.Polling();
    }
    // A report still pending is dropped: the dialog is gone.
    return 0;
}

#ifdef _WIN32
#include <windows.h>

#include <atomic>

// Shared with the main thread; no locks. Raised before the thread is created,
// lowered after the dialog has closed.
extern std::atomic<bool> g_bPolling;
// Auto-reset; created before the thread and closed after it has ended.
extern HANDLE g_hMouseEvent;
// Published by the dialog on initialisation and never cleared.
extern std::atomic<HWND> g_hStatusDlg;

DWORD WINAPI PollThreadProc(LPVOID parameter);
#endif
