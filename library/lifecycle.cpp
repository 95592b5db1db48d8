/* lifecycle.cpp -- the start and end of the library as a whole. */
#include <windows.h>
#include <shlwapi.h>

#include "tools/runtime.h"
#include "base/handles.h"
#include "component/library_list.h"
#include "crashreport/crash_report.h"
#include "faults/se_translator.h"
#include "library/lifecycle.h"
#include "sourceline/lookup_lock.h"
#include "sourceline/symbol_lookup.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query takes the 148-byte record");
static_assert(sizeof(DLLVERSIONINFO) == 20, "DllGetVersion takes the 20-byte record");

namespace tk {

namespace {

BOOL WINAPI Version(OSVERSIONINFOA* info)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExA(info);
#pragma GCC diagnostic pop
}

LifecycleState g_state;

/* The major version of the common controls; false when it cannot be
 * learned. A library without DllGetVersion, or one that answers E_NOTIMPL,
 * predates the entry point: version 4.0. */
bool CommonControlsMajorVersion(DWORD* major)
{
    const LifecyclePlatform& platform = LifecycleSeam().Calls();
    /* Loaded for this one question and freed again on every way out. */
    const UniqueModule<LifecyclePlatform, LifecycleSeam> library(platform.loadLibrary("comctl32.dll"));
    if (!library)
        return false;
    DLLGETVERSIONPROC getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(platform.getProcAddress(library.Get(), "DllGetVersion")));
    if (!getVersion) {
        *major = 4;
        return true;
    }
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    HRESULT hr = getVersion(&info);
    if (hr == E_NOTIMPL) {
        *major = 4;
        return true;
    }
    if (FAILED(hr))
        return false;
    *major = info.dwMajorVersion;
    return true;
}

}  // namespace

constexpr LifecyclePlatform kSystemLifecyclePlatform = {
    Version, LoadLibraryA, GetProcAddress, FreeLibrary,
};

namespace {
Seam<LifecyclePlatform> g_seam(kSystemLifecyclePlatform);
}  // namespace

Seam<LifecyclePlatform>& LifecycleSeam() { return g_seam; }

LifecycleState& Lifecycle() { return g_state; }

void LearnPlatform(LifecycleState& state)
{
    state.platformFamily = VER_PLATFORM_WIN32_WINDOWS;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (LifecycleSeam().Calls().getVersion(&version))
        state.platformFamily = version.dwPlatformId;

    DWORD major = 0;
    if (CommonControlsMajorVersion(&major) && state.platformFamily == VER_PLATFORM_WIN32_NT &&
        major >= 6)
        state.newStyle = true;
}

}  // namespace tk

void TkInitialize()
{
    tk::SetSeTranslator(TkSeTranslator);
    /* The platform family first: the lookup's start reads it. */
    tk::LearnPlatform(tk::Lifecycle());
    {
        const tk::LookupLock lock;
        tk::SymbolLookup().Start();
    }
    /* Calibrates the clock before the host starts other threads. */
    TkGetTickCount();
}

void TkTerminate()
{
    tk::EndCrashReports();
    tk::SetSeTranslator(nullptr);
    /* Here already, and not only in the unload notification, which comes
     * when the loader is unloading the library. */
    tk::PinIfChainedOver();
    {
        /* After a text or call stack that another thread is still reading
         * the modules for. */
        const tk::LookupLock lock;
        tk::SymbolLookup().Stop();
        tk::SymbolLookup().ReleaseModules();
    }
    tk::LoadedLibraries().FreeAll();
}

unsigned long TkGetPlatform() { return tk::Lifecycle().platformFamily; }

bool TkIsNewStyle() { return tk::Lifecycle().newStyle; }

unsigned long TkGetCookie() { return ++tk::Lifecycle().cookie; }

/* The static objects (runtime/init_order.h) are made before the load
 * notification and destroyed after the unload notification. */
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(module);
        break;
    case DLL_PROCESS_DETACH:
        /* At process exit (reserved set) other libraries may already be gone:
         * freeing them or calling into them from here could crash the exit,
         * and freeing the fiber-local slot would free other threads' blocks
         * on a heap whose lock a thread killed by the exit may hold. The
         * process's end releases everything anyway. */
        if (!reserved) {
            TkTerminate();
            tk::ReleaseTranslation();
        }
        break;
    }
    return TRUE;
}
