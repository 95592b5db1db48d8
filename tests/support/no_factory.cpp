/* A library without "DllGetClassObject", for the tests of component
 * creation. When it is unloaded it sets the thread's last error to the
 * number in the environment variable TK_TEST_DETACH_ERROR, if there is one,
 * as any unloading code may. */
#include <stdlib.h>

#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI TestNothing()
{
    return 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH) {
        /* Looking the variable up sets an error of its own when it is
         * absent; only the number asked for may be left behind. */
        DWORD error = GetLastError();
        char text[16];
        DWORD length = GetEnvironmentVariableA("TK_TEST_DETACH_ERROR", text, sizeof text);
        if (length > 0 && length < sizeof text)
            error = strtoul(text, nullptr, 0);
        SetLastError(error);
    }
    return TRUE;
}
