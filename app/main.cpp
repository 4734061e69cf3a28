// Pindral: binds the system mouse through DirectInput 8 so that an event is
// signalled at each change of its state, and shows how often that happens.
//
// The main thread sets everything up, runs the status dialog modally and
// tears everything down in the reverse order; the measurement thread
// (PollThreadProc) times the signals and writes the report into the dialog.

#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
#include <dinput.h>

#include "app/res/resource.h"
#include "app/status_dialog.h"
#include "measure/poll_thread.h"

IDirectInput8A* g_pDirectInput = nullptr;
IDirectInputDevice8A* g_pMouse = nullptr;

namespace {

// One box, no owner, no icon; the failing HRESULT is not shown.
void ShowError(const char* text)
{
    MessageBoxA(NULL, text, "Error", MB_OK);
}

// Releases what start-up made, in the reverse order of creation.
void ReleaseAll()
{
    if (g_pMouse) {
        // Releasing the last reference to an acquired device ends its
        // acquisition and its event notification: no Unacquire first.
        g_pMouse->Release();
        g_pMouse = nullptr;
    }
    if (g_pDirectInput) {
        g_pDirectInput->Release();
        g_pDirectInput = nullptr;
    }
    CloseHandle(g_hMouseEvent);  // last: it outlives every user of it
    g_hMouseEvent = nullptr;
}

// The mouse's setup, step by step; on a failure it names the step and
// returns false, leaving what was made for ReleaseAll.
bool BindMouse()
{
    if (FAILED(DirectInput8Create(GetModuleHandleA(NULL), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                  reinterpret_cast<void**>(&g_pDirectInput), NULL))) {
        g_pDirectInput = nullptr;  // a failed creation made nothing to release
        ShowError("Failed to get direct input.");
        return false;
    }
    if (FAILED(g_pDirectInput->CreateDevice(GUID_SysMouse, &g_pMouse, NULL))) {
        g_pMouse = nullptr;
        ShowError("Failed to create device.");
        return false;
    }
    if (FAILED(g_pMouse->SetDataFormat(&c_dfDIMouse2))) {
        ShowError("Failed to set data format.");
        return false;
    }
    // Background and non-exclusive: measured whatever has the focus, while
    // every other program keeps its normal use of the mouse.
    if (FAILED(g_pMouse->SetCooperativeLevel(GetDesktopWindow(), DISCL_NONEXCLUSIVE | DISCL_BACKGROUND))) {
        ShowError("Failed to set coop level.");
        return false;
    }
    if (FAILED(g_pMouse->SetEventNotification(g_hMouseEvent))) {
        ShowError("Failed to set event notification.");
        return false;
    }
    if (FAILED(g_pMouse->Acquire())) {
        ShowError("Failed to acquire mouse.");
        return false;
    }
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Auto-reset and unnamed: one waiting thread released per signal; a
    // signal that finds it set adds nothing.
    g_hMouseEvent = CreateEventA(NULL, FALSE, FALSE, NULL);

    if (!BindMouse()) {
        ReleaseAll();
        return 0;
    }

    // Raised before the thread exists, so its first test finds it raised.
    g_bPolling = true;
    DWORD threadId;
    HANDLE thread = CreateThread(NULL, 0, PollThreadProc, NULL, 0, &threadId);

    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_STATUS), NULL, StatusDlgProc, 0);

    // The dialog is destroyed by now: its destruction released a text write
    // of the thread that was in flight to it, and a later one fails at once,
    // so the thread sees the flag within one wait.
    g_bPolling = false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    ReleaseAll();
    return 0;
}
