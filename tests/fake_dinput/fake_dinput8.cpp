// A dinput8.dll for the runs under Wine: put beside pindral.exe and loaded
// with WINEDLLOVERRIDES=dinput8=n, it stands in for DirectInput and
//
//   - logs every call it receives, one line each, to the file named by
//     PINDRAL_FAKE_LOG (nothing is logged when it is unset);
//   - fails the step named by PINDRAL_FAKE_FAIL (DirectInput8Create,
//     CreateDevice, SetDataFormat, SetCooperativeLevel, SetEventNotification
//     or Acquire) with E_FAIL, and with PINDRAL_FAKE_SUCCESS=1 answers those
//     steps with S_FALSE, a success other than DI_OK;
//   - with PINDRAL_FAKE_RATE=<hz>, acts as a mouse reporting at that rate: a
//     thread of its own signals the notification event from a successful
//     Acquire until the device is unacquired or released, or for
//     PINDRAL_FAKE_SECONDS at most.
//
// At each Release it tells whether the program's mouse event is still open.
// The program makes that event before its first call here, but a run that
// fails before SetEventNotification never passes it in, so the DLL learns it
// by catching the program's CreateEventA (see HookCreateEventA).
#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
#include <dinput.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ---- Environment and log ---------------------------------------------------

// The variable's value, or false when it is unset or too long for the buffer.
bool Env(const char* name, char* value, DWORD size)
{
    const DWORD length = GetEnvironmentVariableA(name, value, size);
    return length > 0 && length < size;
}

// Appends one line. The file is opened for each line and closed after it, so
// every line is on disk before the call it records returns, crash or not.
void Log(const char* format, ...)
{
    char path[MAX_PATH];
    if (!Env("PINDRAL_FAKE_LOG", path, sizeof path))
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0)
        return;
    if (length > static_cast<int>(sizeof line) - 2)
        length = sizeof line - 2;
    line[length++] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(length), &written, NULL);
    CloseHandle(file);
}

// What one of the six set-up steps returns.
HRESULT Outcome(const char* step)
{
    char value[64];
    if (Env("PINDRAL_FAKE_FAIL", value, sizeof value) && std::strcmp(value, step) == 0)
        return E_FAIL;
    return Env("PINDRAL_FAKE_SUCCESS", value, sizeof value) && std::strcmp(value, "1") == 0 ? S_FALSE : DI_OK;
}

const char* Failed(HRESULT result)
{
    return FAILED(result) ? " -> failed" : "";
}

// A GUID by the name the program would use for it, else as registry text.
struct GuidName {
    char text[40];
};

GuidName NameOf(REFGUID guid)
{
    static const struct {
        const GUID* guid;
        const char* name;
    } known[] = {
        {&IID_IUnknown, "IUnknown"},
        {&IID_IDirectInput8A, "IDirectInput8A"},
        {&IID_IDirectInputDevice8A, "IDirectInputDevice8A"},
        {&GUID_SysMouse, "SysMouse"},
        {&GUID_SysKeyboard, "SysKeyboard"},
    };
    GuidName name{};
    for (const auto& entry : known) {
        if (IsEqualGUID(guid, *entry.guid)) {
            std::snprintf(name.text, sizeof name.text, "%s", entry.name);
            return name;
        }
    }
    std::snprintf(name.text, sizeof name.text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return name;
}

// ---- The program's mouse event ---------------------------------------------

using CreateEventAFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
CreateEventAFunction g_realCreateEventA = nullptr;
std::atomic<HANDLE> g_programEvent{nullptr};  // the first event the program made

HANDLE WINAPI RecordingCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                                    LPCSTR name)
{
    HANDLE event = g_realCreateEventA(security, manualReset, initialState, name);
    HANDLE none = nullptr;
    if (event)
        g_programEvent.compare_exchange_strong(none, event);
    return event;
}

// Points the program's own import of KERNEL32!CreateEventA at
// RecordingCreateEventA. Runs while the DLL is attached, which is after the
// loader has filled the program's import table and before its entry point.
// Imports not found by name (no name table, a bound or ordinal import) are
// left alone: the Release lines then say event=none.
void HookCreateEventA()
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(NULL));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return;
    for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name; ++module) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + module->Name), "KERNEL32.dll") != 0 ||
            module->OriginalFirstThunk == 0)
            continue;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "CreateEventA") != 0)
                continue;
            DWORD protection;
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection))
                return;
            g_realCreateEventA = reinterpret_cast<CreateEventAFunction>(slot->u1.Function);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(&RecordingCreateEventA);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
            return;
        }
    }
}

// Whether the program's event is still open.
const char* ProgramEventState()
{
    HANDLE event = g_programEvent.load();
    DWORD flags;
    return !event ? "none" : GetHandleInformation(event, &flags) ? "valid" : "invalid";
}

// ---- The data format --------------------------------------------------------

// Writes what differs from c_dfDIMouse2 in the fields DirectInput goes by,
// or leaves the text empty when nothing does.
void CompareWithMouse2(LPCDIDATAFORMAT format, char* text, size_t size)
{
    const DIDATAFORMAT& mouse = c_dfDIMouse2;
    text[0] = '\0';
    if (!format) {
        std::snprintf(text, size, " null");
        return;
    }
    const struct {
        const char* name;
        DWORD given, expected;
    } fields[] = {
        {"dwSize", format->dwSize, mouse.dwSize},
        {"dwObjSize", format->dwObjSize, mouse.dwObjSize},
        {"dwFlags", format->dwFlags, mouse.dwFlags},
        {"dwDataSize", format->dwDataSize, mouse.dwDataSize},
        {"dwNumObjs", format->dwNumObjs, mouse.dwNumObjs},
    };
    for (const auto& field : fields) {
        if (field.given != field.expected) {
            std::snprintf(text, size, " %s=0x%08lX", field.name, static_cast<unsigned long>(field.given));
            return;
        }
    }
    if (!format->rgodf) {
        std::snprintf(text, size, " rgodf=null");
        return;
    }
    for (DWORD i = 0; i < mouse.dwNumObjs; ++i) {
        const DIOBJECTDATAFORMAT& given = format->rgodf[i];
        const DIOBJECTDATAFORMAT& expected = mouse.rgodf[i];
        const bool sameGuid = given.pguid && expected.pguid ? IsEqualGUID(*given.pguid, *expected.pguid) != 0
                                                            : given.pguid == expected.pguid;
        const char* field = !sameGuid                           ? "pguid"
                            : given.dwOfs != expected.dwOfs     ? "dwOfs"
                            : given.dwType != expected.dwType   ? "dwType"
                            : given.dwFlags != expected.dwFlags ? "dwFlags"
                                                                : nullptr;
        if (field) {
            std::snprintf(text, size, " rgodf[%lu].%s", static_cast<unsigned long>(i), field);
            return;
        }
    }
}

// ---- The paced source ------------------------------------------------------

// NtQueryEvent's answer for EventBasicInformation (class 0).
struct EventBasicInformation {
    ULONG type;
    LONG state;  // non-zero while set
};

extern "C" NTSTATUS NTAPI NtQueryEvent(HANDLE event, ULONG informationClass, PVOID information, ULONG length,
                                       PULONG returned);

// Signals an event on a fixed schedule, the k-th signal due at start + k
// periods on the performance counter. A signal that comes late by a whole
// period or more does not bring a burst after it: the slots already past are
// dropped and counted as skipped. A signal that finds the event still set
// merges with the one before it, invisibly to the program, and is counted.
class PacedSource {
public:
    // Starts signalling when PINDRAL_FAKE_RATE holds a positive rate.
    void Start(HANDLE event)
    {
        char value[64];
        if (thread_ || !event || !Env("PINDRAL_FAKE_RATE", value, sizeof value))
            return;
        rate_ = std::strtod(value, nullptr);
        if (!(rate_ > 0))
            return;
        seconds_ = Env("PINDRAL_FAKE_SECONDS", value, sizeof value) ? std::strtod(value, nullptr) : 0;
        event_ = event;
        stop_ = false;
        signals_ = merged_ = skipped_ = 0;
        first_ = last_ = 0;
        thread_ = CreateThread(NULL, 0, &PacedSource::Run, this, 0, NULL);
    }

    // Stops the thread and waits for it, so that the event is not touched
    // once this returns; then logs what was sent.
    void Stop()
    {
        if (!thread_)
            return;
        stop_ = true;
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        Log("source rate=%g signals=%llu merged=%llu skipped=%llu span_ticks=%lld frequency=%lld", rate_,
            signals_, merged_, skipped_, static_cast<long long>(last_ - first_),
            static_cast<long long>(frequency_));
    }

private:
    static int64_t Now()
    {
        LARGE_INTEGER count;
        QueryPerformanceCounter(&count);
        return count.QuadPart;
    }

    static DWORD WINAPI Run(LPVOID self)
    {
        static_cast<PacedSource*>(self)->Pace();
        return 0;
    }

    void Pace()
    {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        frequency_ = frequency.QuadPart;
        const double period = static_cast<double>(frequency_) / rate_;
        // Sleep(1) lasts about a millisecond under Wine; within 2 ms of the
        // next signal it could overshoot it, so the last stretch is spun.
        const int64_t nearTicks = frequency_ / 500;
        const double limit = seconds_ > 0 ? seconds_ * static_cast<double>(frequency_) : -1;
        const int64_t start = Now();
        auto due = [&](uint64_t k) { return start + static_cast<int64_t>(static_cast<double>(k) * period); };

        auto over = [&](uint64_t k) { return limit >= 0 && static_cast<double>(due(k) - start) > limit; };

        for (uint64_t k = 1; !stop_ && !over(k); ++k) {
            int64_t now;
            while ((now = Now()) < due(k) && !stop_) {
                if (due(k) - now > nearTicks)
                    Sleep(1);
                else
                    YieldProcessor();
            }
            if (stop_)
                break;
            for (; due(k + 1) <= now && !over(k + 1); ++k)
                ++skipped_;

            EventBasicInformation information{};
            if (NtQueryEvent(event_, 0, &information, sizeof information, NULL) >= 0 && information.state)
                ++merged_;
            SetEvent(event_);
            if (signals_++ == 0)
                first_ = now;
            last_ = now;
        }
    }

    HANDLE thread_ = nullptr;
    HANDLE event_ = nullptr;
    std::atomic<bool> stop_{false};
    double rate_ = 0, seconds_ = 0;
    // Written by the thread only, read after it has ended.
    unsigned long long signals_ = 0, merged_ = 0, skipped_ = 0;
    int64_t first_ = 0, last_ = 0, frequency_ = 0;
};

// ---- The interfaces --------------------------------------------------------

// A method the program has no business calling.
#define UNEXPECTED(method, ...)                \
    STDMETHODIMP method(__VA_ARGS__) override \
    {                                          \
        Log("unexpected " #method);            \
        return E_NOTIMPL;                      \
    }

// IUnknown's part of both fakes, each of which has one interface of its own.
HRESULT Query(void* self, std::atomic<ULONG>& refs, const char* name, REFIID own, REFIID iid, void** object)
{
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, own);
    Log("QueryInterface %s iid=%s%s", name, NameOf(iid).text, known ? "" : " -> no interface");
    if (!object)
        return E_POINTER;
    *object = known ? self : nullptr;
    if (!known)
        return E_NOINTERFACE;
    ++refs;
    return S_OK;
}

ULONG CountedAddRef(std::atomic<ULONG>& refs, const char* name)
{
    const ULONG count = ++refs;
    Log("AddRef %s refs=%lu", name, count);
    return count;
}

class Device final : public IDirectInputDevice8A {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        return Query(this, refs_, "device", IID_IDirectInputDevice8A, iid, object);
    }

    STDMETHODIMP_(ULONG) AddRef() override { return CountedAddRef(refs_, "device"); }

    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG refs = --refs_;
        if (refs == 0)
            source_.Stop();  // ends acquisition, and with it the signals
        Log("Release device refs=%lu event=%s", refs, ProgramEventState());
        if (refs == 0)
            delete this;
        return refs;
    }

    STDMETHODIMP SetDataFormat(LPCDIDATAFORMAT format) override
    {
        const HRESULT result = Outcome("SetDataFormat");
        char difference[64];
        CompareWithMouse2(format, difference, sizeof difference);
        Log("SetDataFormat format=%s%s%s", difference[0] ? "other" : "c_dfDIMouse2", difference, Failed(result));
        return result;
    }

    STDMETHODIMP SetCooperativeLevel(HWND window, DWORD flags) override
    {
        const HRESULT result = Outcome("SetCooperativeLevel");
        Log("SetCooperativeLevel window=%s flags=0x%08lX%s", window == GetDesktopWindow() ? "desktop" : "other",
            static_cast<unsigned long>(flags), Failed(result));
        return result;
    }

    STDMETHODIMP SetEventNotification(HANDLE event) override
    {
        const HRESULT result = Outcome("SetEventNotification");
        const bool program = event && event == g_programEvent.load();
        Log("SetEventNotification event=%s%s", program ? "program" : event ? "other" : "null", Failed(result));
        if (SUCCEEDED(result))
            event_ = event;
        return result;
    }

    STDMETHODIMP Acquire() override
    {
        const HRESULT result = Outcome("Acquire");
        Log("Acquire%s", Failed(result));
        if (SUCCEEDED(result))
            source_.Start(event_);
        return result;
    }

    STDMETHODIMP Unacquire() override
    {
        source_.Stop();
        Log("Unacquire");
        return DI_OK;
    }

    UNEXPECTED(GetCapabilities, LPDIDEVCAPS)
    UNEXPECTED(EnumObjects, LPDIENUMDEVICEOBJECTSCALLBACKA, LPVOID, DWORD)
    UNEXPECTED(GetProperty, REFGUID, LPDIPROPHEADER)
    UNEXPECTED(SetProperty, REFGUID, LPCDIPROPHEADER)
    UNEXPECTED(GetDeviceState, DWORD, LPVOID)
    UNEXPECTED(GetDeviceData, DWORD, LPDIDEVICEOBJECTDATA, LPDWORD, DWORD)
    UNEXPECTED(GetObjectInfo, LPDIDEVICEOBJECTINSTANCEA, DWORD, DWORD)
    UNEXPECTED(GetDeviceInfo, LPDIDEVICEINSTANCEA)
    UNEXPECTED(RunControlPanel, HWND, DWORD)
    UNEXPECTED(Initialize, HINSTANCE, DWORD, REFGUID)
    UNEXPECTED(CreateEffect, REFGUID, LPCDIEFFECT, LPDIRECTINPUTEFFECT*, LPUNKNOWN)
    UNEXPECTED(EnumEffects, LPDIENUMEFFECTSCALLBACKA, LPVOID, DWORD)
    UNEXPECTED(GetEffectInfo, LPDIEFFECTINFOA, REFGUID)
    UNEXPECTED(GetForceFeedbackState, LPDWORD)
    UNEXPECTED(SendForceFeedbackCommand, DWORD)
    UNEXPECTED(EnumCreatedEffectObjects, LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID, DWORD)
    UNEXPECTED(Escape, LPDIEFFESCAPE)
    UNEXPECTED(Poll, void)
    UNEXPECTED(SendDeviceData, DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD)
    UNEXPECTED(EnumEffectsInFile, LPCSTR, LPDIENUMEFFECTSINFILECALLBACK, LPVOID, DWORD)
    UNEXPECTED(WriteEffectToFile, LPCSTR, DWORD, LPDIFILEEFFECT, DWORD)
    UNEXPECTED(BuildActionMap, LPDIACTIONFORMATA, LPCSTR, DWORD)
    UNEXPECTED(SetActionMap, LPDIACTIONFORMATA, LPCSTR, DWORD)
    UNEXPECTED(GetImageInfo, LPDIDEVICEIMAGEINFOHEADERA)

private:
    std::atomic<ULONG> refs_{1};
    HANDLE event_ = nullptr;  // as set by SetEventNotification
    PacedSource source_;
};

class DirectInput final : public IDirectInput8A {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        return Query(this, refs_, "directinput", IID_IDirectInput8A, iid, object);
    }

    STDMETHODIMP_(ULONG) AddRef() override { return CountedAddRef(refs_, "directinput"); }

    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG refs = --refs_;
        Log("Release directinput refs=%lu event=%s", refs, ProgramEventState());
        if (refs == 0)
            delete this;
        return refs;
    }

    STDMETHODIMP CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* device, LPUNKNOWN outer) override
    {
        const HRESULT result = Outcome("CreateDevice");
        Log("CreateDevice guid=%s%s%s", NameOf(guid).text, outer ? " outer=set" : "", Failed(result));
        if (!device)
            return E_POINTER;
        *device = SUCCEEDED(result) ? new Device : nullptr;
        return result;
    }

    UNEXPECTED(EnumDevices, DWORD, LPDIENUMDEVICESCALLBACKA, LPVOID, DWORD)
    UNEXPECTED(GetDeviceStatus, REFGUID)
    UNEXPECTED(RunControlPanel, HWND, DWORD)
    UNEXPECTED(Initialize, HINSTANCE, DWORD)
    UNEXPECTED(FindDevice, REFGUID, LPCSTR, LPGUID)
    UNEXPECTED(EnumDevicesBySemantics, LPCSTR, LPDIACTIONFORMATA, LPDIENUMDEVICESBYSEMANTICSCBA, LPVOID, DWORD)
    UNEXPECTED(ConfigureDevices, LPDICONFIGUREDEVICESCALLBACK, LPDICONFIGUREDEVICESPARAMSA, DWORD, LPVOID)

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT WINAPI DirectInput8Create(HINSTANCE, DWORD version, REFIID iid, LPVOID* object, LPUNKNOWN outer)
{
    HRESULT result = Outcome("DirectInput8Create");
    const bool known = IsEqualIID(iid, IID_IDirectInput8A);
    if (SUCCEEDED(result) && !known)
        result = E_NOINTERFACE;
    Log("DirectInput8Create version=0x%04lX iid=%s%s%s", static_cast<unsigned long>(version), NameOf(iid).text,
        outer ? " outer=set" : "", Failed(result));
    if (!object)
        return E_POINTER;
    *object = SUCCEEDED(result) ? static_cast<IDirectInput8A*>(new DirectInput) : nullptr;
    return result;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        HookCreateEventA();
    return TRUE;
}
