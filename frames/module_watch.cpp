/* module_watch.cpp -- the loader's DLL notifications (ntdll's
 * LdrRegisterDllNotification, documented with Windows Vista). The
 * loader calls back under its own lock, when it has mapped a module and
 * before the module's start-up code runs, and when it unmaps one. */
#include <windows.h>
#include <winternl.h>

#include "frames/frame_walk.h"
#include "frames/module_watch.h"

namespace tk {

namespace {

const ULONG kLoaded = 1;

/* The same for both reasons. */
struct DllNotificationData {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};

typedef void(CALLBACK* DllNotification)(ULONG reason, const DllNotificationData* data, void* context);
typedef NTSTATUS(NTAPI* RegisterFn)(ULONG flags, DllNotification notification, void* context, void** cookie);
typedef NTSTATUS(NTAPI* UnregisterFn)(void* cookie);

void* g_cookie;

void CALLBACK Notified(ULONG reason, const DllNotificationData* data, void*)
{
    if (reason == kLoaded)
        FrameLookupModuleLoaded(data->base);
    else
        FrameLookupModuleUnloaded(data->base);
}

FARPROC NtdllEntry(const char* name) { return GetProcAddress(GetModuleHandleA("ntdll.dll"), name); }

}  // namespace

void WatchModules()
{
    RegisterFn reg = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(NtdllEntry("LdrRegisterDllNotification")));
    if (reg && reg(0, Notified, nullptr, &g_cookie) < 0)
        g_cookie = nullptr;
}

void StopWatchingModules()
{
    UnregisterFn unreg =
        reinterpret_cast<UnregisterFn>(reinterpret_cast<void*>(NtdllEntry("LdrUnregisterDllNotification")));
    if (g_cookie && unreg)
        unreg(g_cookie);
    g_cookie = nullptr;
}

}  // namespace tk
