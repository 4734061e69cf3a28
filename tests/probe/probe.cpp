// Reads what a person would see of the running program, from the Windows
// side, with time limits:
//
//   probe dialog [ms]   waits for the status dialog; prints its rectangle,
//                       styles, extended styles and text
//   probe text          prints the dialog's text as it is now
//   probe close         asks the dialog to close, as its close box does
//   probe gone [ms]     waits until the dialog has disappeared
//
// Exits 0 on success, 1 when the window is not there in time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND FindDialog()
{
    return FindWindowA("#32770", "Pindral");
}

HWND WaitForDialog(DWORD ms)
{
    const ULONGLONG until = GetTickCount64() + ms;
    for (;;) {
        if (HWND dialog = FindDialog(); dialog && IsWindowVisible(dialog))
            return dialog;
        if (GetTickCount64() >= until)
            return NULL;
        Sleep(20);
    }
}

// The text of the dialog's one static control, asked for with a time limit
// so that a hung program fails the check instead of hanging it.
bool ReadText(HWND dialog, char* text, int size)
{
    HWND control = GetWindow(dialog, GW_CHILD);
    DWORD_PTR length = 0;
    return control && SendMessageTimeoutA(control, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text),
                                          SMTO_ABORTIFHUNG, 2000, &length);
}

int Usage()
{
    std::fprintf(stderr, "usage: probe dialog [ms] | text | close | gone [ms]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const char* command = argv[1];
    const DWORD ms = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    char text[512] = {};

    if (std::strcmp(command, "dialog") == 0) {
        HWND dialog = WaitForDialog(ms);
        if (!dialog || !ReadText(dialog, text, sizeof text))
            return 1;
        RECT rect;
        GetWindowRect(dialog, &rect);
        std::printf("rect %ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        std::printf("style 0x%08lX\n", static_cast<unsigned long>(GetWindowLongA(dialog, GWL_STYLE)));
        std::printf("exstyle 0x%08lX\n", static_cast<unsigned long>(GetWindowLongA(dialog, GWL_EXSTYLE)));
        std::printf("text %s\n", text);
        return 0;
    }
    if (std::strcmp(command, "text") == 0) {
        HWND dialog = FindDialog();
        if (!dialog || !ReadText(dialog, text, sizeof text))
            return 1;
        std::printf("%s\n", text);
        return 0;
    }
    if (std::strcmp(command, "close") == 0) {
        HWND dialog = FindDialog();
        return dialog && PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    }
    if (std::strcmp(command, "gone") == 0) {
        const ULONGLONG until = GetTickCount64() + ms;
        while (FindDialog()) {
            if (GetTickCount64() >= until)
                return 1;
            Sleep(10);
        }
        return 0;
    }
    return Usage();
}
