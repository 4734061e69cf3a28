// Reads what a person would see of the running program, from the Windows
// side, with time limits:
//
//   probe dialog [MS]   waits for the status dialog; prints its rectangle,
//                       styles, extended styles, owner, whether it is
//                       minimised, where its close box is, and its text
//   probe text [N [MS]] prints the dialog's text as it is now; N readings
//                       MS apart from one process, so that starting a
//                       process per reading does not disturb what is read
//   probe close         asks the dialog to close, as its close box does
//   probe gone [MS]     waits until the dialog has disappeared
//   probe error [MS]    waits for a message box captioned "Error"; prints
//                       its controls: class, id, visibility, centre, text
//                       ([icon] or [no icon] for an icon's place)
//   probe watch [MS]    waits for pindral.exe to start, then prints every
//                       top-level window it shows until it ends, and its
//                       exit code
//   probe handles       prints how many handles pindral.exe has open
//
// Exits 0 on success, 1 when what was asked for is not there in time.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

const char kDialogClass[] = "#32770";

HWND FindDialog()
{
    return FindWindowA(kDialogClass, "Pindral");
}

template <class Find>
HWND WaitFor(Find find, DWORD ms)
{
    const ULONGLONG until = GetTickCount64() + ms;
    for (;;) {
        if (HWND window = find(); window && IsWindowVisible(window))
            return window;
        if (GetTickCount64() >= until)
            return NULL;
        Sleep(10);
    }
}

// A window's text, asked for with a time limit so that a hung program fails
// the check instead of hanging it.
bool ReadText(HWND window, char* text, int size)
{
    DWORD_PTR length = 0;
    text[0] = '\0';
    return SendMessageTimeoutA(window, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                               &length) != 0;
}

// The text on one line: line breaks as \n.
void PrintEscaped(const char* text)
{
    for (; *text; ++text) {
        if (*text == '\n')
            std::fputs("\\n", stdout);
        else if (*text != '\r')
            std::fputc(*text, stdout);
    }
    std::fputc('\n', stdout);
}

// Where the caption's close box is: the platform's own hit test, over the
// window's top strip.
bool FindCloseBox(HWND window, POINT& point)
{
    RECT rect;
    GetWindowRect(window, &rect);
    for (LONG y = rect.top; y < rect.top + 40 && y < rect.bottom; ++y)
        for (LONG x = rect.right - 1; x > rect.right - 60 && x >= rect.left; --x) {
            DWORD_PTR hit = 0;
            SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 2000, &hit);
            if (hit == HTCLOSE) {
                // The middle of the run of HTCLOSE points on this row.
                LONG left = x;
                for (;; --left) {
                    SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(left - 1, y), SMTO_ABORTIFHUNG, 2000, &hit);
                    if (hit != HTCLOSE)
                        break;
                }
                point = {(left + x) / 2, y + 4};
                return true;
            }
        }
    return false;
}

int Dialog(DWORD ms)
{
    HWND dialog = WaitFor(FindDialog, ms);
    char text[512];
    if (!dialog || !ReadText(GetWindow(dialog, GW_CHILD), text, sizeof text))
        return 1;
    RECT rect;
    GetWindowRect(dialog, &rect);
    std::printf("rect %ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    std::printf("style 0x%08lX\n", static_cast<unsigned long>(GetWindowLongA(dialog, GWL_STYLE)));
    std::printf("exstyle 0x%08lX\n", static_cast<unsigned long>(GetWindowLongA(dialog, GWL_EXSTYLE)));
    std::printf("owner %s\n", GetWindow(dialog, GW_OWNER) ? "yes" : "none");
    std::printf("iconic %s\n", IsIconic(dialog) ? "yes" : "no");
    POINT close;
    if (FindCloseBox(dialog, close))
        std::printf("closebox %ld %ld\n", close.x, close.y);
    std::printf("text ");
    PrintEscaped(text);
    return 0;
}

int Error(DWORD ms)
{
    HWND box = WaitFor([] { return FindWindowA(kDialogClass, "Error"); }, ms);
    if (!box)
        return 1;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[64], text[512];
        GetClassNameA(child, className, sizeof className);
        ReadText(child, text, sizeof text);
        // An icon's place shows as [icon] or, with nothing in it, [no icon].
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && _stricmp(className, "Static") == 0) {
            DWORD_PTR icon = 0;
            SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
            std::strcpy(text, icon ? "[icon]" : "[no icon]");
        }
        RECT rect;
        GetWindowRect(child, &rect);
        const bool visible = IsWindowVisible(child);
        std::printf("control %s %d %s %ld %ld ", className, GetDlgCtrlID(child), visible ? "visible" : "hidden",
                    (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        PrintEscaped(text);
    }
    return 0;
}

DWORD FindProcess(const char* name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD id = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !id; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, name) == 0)
            id = entry.th32ProcessID;
    CloseHandle(snapshot);
    return id;
}

struct WatchedProcess {
    DWORD id;
    std::set<HWND> seen;
};

// Prints each visible top-level window of the watched process the first time it is seen.
BOOL CALLBACK PrintNewWindow(HWND window, LPARAM parameter)
{
    auto* watched = reinterpret_cast<WatchedProcess*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == watched->id && IsWindowVisible(window) && watched->seen.insert(window).second) {
        char className[64], caption[256];
        GetClassNameA(window, className, sizeof className);
        GetWindowTextA(window, caption, sizeof caption);
        std::printf("window %s %s\n", className, caption);
        std::fflush(stdout);
    }
    return TRUE;
}

int Watch(DWORD ms)
{
    const ULONGLONG until = GetTickCount64() + ms;
    DWORD id = 0;
    while (!(id = FindProcess("pindral.exe"))) {
        if (GetTickCount64() >= until)
            return 1;
        Sleep(5);
    }
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process)
        return 1;

    WatchedProcess watched{id, {}};
    while (WaitForSingleObject(process, 5) == WAIT_TIMEOUT) {
        EnumWindows(PrintNewWindow, reinterpret_cast<LPARAM>(&watched));
        if (GetTickCount64() >= until)
            return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
    return 0;
}

// The system's handle table, counted for one process: Wine answers
// GetProcessHandleCount with 0, but keeps this table.
int Handles()
{
    const DWORD id = FindProcess("pindral.exe");
    if (!id)
        return 1;
    struct Entry {
        PVOID object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG access;
        USHORT creatorBackTraceIndex;
        USHORT objectTypeIndex;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG kSystemExtendedHandleInformation = 64;
    ULONG size = 1 << 20;
    for (int attempt = 0; query && attempt < 8; ++attempt, size *= 2) {
        auto* table = static_cast<Table*>(std::malloc(size));
        ULONG needed = 0;
        if (table && query(kSystemExtendedHandleInformation, table, size, &needed) >= 0) {
            unsigned long count = 0;
            for (ULONG_PTR i = 0; i < table->count; ++i)
                count += table->entries[i].processId == id;
            std::free(table);
            std::printf("%lu\n", count);
            return 0;
        }
        std::free(table);
    }
    return 1;
}

int Text(int readings, DWORD gapMs)
{
    for (int i = 0; i < readings; ++i) {
        if (i > 0)
            Sleep(gapMs);
        HWND dialog = FindDialog();
        char text[512];
        if (!dialog || !ReadText(GetWindow(dialog, GW_CHILD), text, sizeof text))
            return 1;
        std::printf("%s\n", text);
        std::fflush(stdout);
    }
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: probe dialog [ms] | text [n [ms]] | close | gone [ms] | error [ms] | watch [ms] | handles\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const char* command = argv[1];
    const DWORD ms = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;

    if (std::strcmp(command, "dialog") == 0)
        return Dialog(ms);
    if (std::strcmp(command, "text") == 0)
        return Text(argc > 2 ? std::atoi(argv[2]) : 1, argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0);
    if (std::strcmp(command, "close") == 0) {
        HWND dialog = FindDialog();
        return dialog && PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    }
    if (std::strcmp(command, "gone") == 0)
        return WaitFor([] { return FindDialog() ? NULL : GetDesktopWindow(); }, ms) ? 0 : 1;
    if (std::strcmp(command, "error") == 0)
        return Error(ms);
    if (std::strcmp(command, "watch") == 0)
        return Watch(ms);
    if (std::strcmp(command, "handles") == 0)
        return Handles();
    return Usage();
}
