/* A library without "DllGetClassObject", for the tests of component
 * creation. */
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI TestNothing()
{
    return 0;
}
