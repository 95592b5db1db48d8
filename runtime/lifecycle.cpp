/* lifecycle.cpp -- the start and end of the library as a whole. */
#include <windows.h>

#include "tools/runtime.h"
#include "runtime/se_translator.h"
#include "runtime/statics.h"

void TkInitialize()
{
    tk::SetSeTranslator(TkSeTranslator);
    /* Calibrates the clock before the host starts other threads. */
    TkGetTickCount();
}

void TkTerminate()
{
    tk::SetSeTranslator(nullptr);
    tk::LoadedLibraries().FreeAll();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(module);
        break;
    case DLL_PROCESS_DETACH:
        /* At process exit (reserved set) other libraries may already be gone:
         * freeing them or calling into them from here could crash the exit.
         * The process's end releases everything anyway. */
        if (!reserved)
            TkTerminate();
        tk::ReleaseTranslation();
        break;
    }
    return TRUE;
}
