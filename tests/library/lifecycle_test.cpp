/* The start and end of the library as a host sees them through tools.dll.
 * The tests run in this order in one process: the first one needs a library
 * that nobody has initialised yet. */
#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include "tools/runtime.h"

namespace {

/* The major version of the common controls this process loads, asked
 * directly; 0 when it cannot be learned. */
DWORD CommonControlsMajor()
{
    HMODULE comctl = LoadLibraryA("comctl32.dll");
    if (!comctl)
        return 0;
    DLLGETVERSIONPROC get = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    DWORD major = get && SUCCEEDED(get(&info)) ? info.dwMajorVersion : 0;
    FreeLibrary(comctl);
    return major;
}

TEST(Lifecycle, InitializeLearnsThePlatformAndStartsTheSymbolEngine)
{
    EXPECT_EQ(TkGetPlatform(), 0u) << "nothing is known before TkInitialize";
    EXPECT_FALSE(TkIsNewStyle());
    ASSERT_EQ(GetModuleHandleA("dbghelp.dll"), nullptr);

    /* An end before any start installs nothing, not even the process's
     * fault filter. */
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(filter);
    TkTerminate();
    const LPTOP_LEVEL_EXCEPTION_FILTER after = SetUnhandledExceptionFilter(filter);
    EXPECT_EQ(after, filter) << "TkTerminate before TkInitialize installed a filter";

    TkInitialize();
    EXPECT_EQ(TkGetPlatform(), 2u) << "Wine reports the NT family";
    const DWORD major = CommonControlsMajor();
    ASSERT_NE(major, 0u);
    EXPECT_EQ(TkIsNewStyle(), major >= 6) << "common controls " << major;
    EXPECT_NE(GetModuleHandleA("dbghelp.dll"), nullptr);

    TkTerminate();
    EXPECT_EQ(GetModuleHandleA("dbghelp.dll"), nullptr) << "TkTerminate unloads the debug-help library";
    TkTerminate();
    EXPECT_EQ(TkGetPlatform(), 2u) << "TkTerminate leaves the platform family";

    TkInitialize();
    EXPECT_NE(GetModuleHandleA("dbghelp.dll"), nullptr) << "a second start after the end";
    TkTerminate();
}

TEST(Lifecycle, CookiesCountFromOneAndOutliveTerminate)
{
    EXPECT_EQ(TkGetCookie(), 1u);
    EXPECT_EQ(TkGetCookie(), 2u);
    TkTerminate();
    EXPECT_EQ(TkGetCookie(), 3u);
}

}  // namespace
