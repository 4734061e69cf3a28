#include "measure/poll_thread.h"

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
    return PollLoop(platform);
}
