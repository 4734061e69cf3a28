#include "measure/poll_thread.h"

#ifdef PINDRAL_STEP_TIMES
#include "measure/step_timer.h"

#include <cstdio>
#include <cstdlib>
#endif

std::atomic<bool> g_bPolling{false};
HANDLE g_hMouseEvent = nullptr;
std::atomic<HWND> g_hStatusDlg{nullptr};

namespace {

// The thread's view of Windows. Result codes of the counter reads are not
// examined; of a wait, only WAIT_OBJECT_0 counts as a signal.
struct WindowsPlatform {
    static int64_t CounterFrequency()
    {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart;
    }

    static int64_t Counter()
    {
        LARGE_INTEGER count{};
        QueryPerformanceCounter(&count);
        return count.QuadPart;
    }

    static bool WaitForSignal(uint32_t ms) { return WaitForSingleObject(g_hMouseEvent, ms) == WAIT_OBJECT_0; }

    static bool Polling() { return g_bPolling.load(); }

    static HWND StatusDialog() { return g_hStatusDlg.load(); }

    // The dialog's one text control has identifier -1.
    static void WriteReport(HWND dialog, const char* text) { SetDlgItemTextA(dialog, -1, text); }
};

}  // namespace

DWORD WINAPI PollThreadProc(LPVOID)
{
    WindowsPlatform platform;
#ifdef PINDRAL_STEP_TIMES
    // A diagnostic build: the same loop, each of its steps timed.
    StepTimer<WindowsPlatform> timed(platform);
    const DWORD result = PollLoop(timed);
    if (const char* path = std::getenv("PINDRAL_STEP_TIMES")) {
        if (std::FILE* file = std::fopen(path, "w")) {
            timed.Report(file);
            std::fclose(file);
        }
    }
    return result;
#else
    return PollLoop(platform);
#endif
}
