/* The start and end of the library as a host sees them through tools.dll.
 * The tests run in this order in one process: the first one needs a library
 * that nobody has initialised yet. */
#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "tools/runtime.h"
#include "support/child_process.h"

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

/* A crash reporter's filter, installed over the library's and chaining to
 * it. */
LPTOP_LEVEL_EXCEPTION_FILTER g_chained;
LONG WINAPI Reporter(EXCEPTION_POINTERS* p)
{
    return g_chained ? g_chained(p) : EXCEPTION_CONTINUE_SEARCH;
}

TEST(Lifecycle, AFilterInstalledOverTheLibrarysKeepsTheLibraryLoaded)
{
    /* A copy under a name of its own, which this test can free: this
     * program keeps tools.dll itself. */
    const char* name = sizeof(void*) == 8 ? "tk_chained_tools64.dll" : "tk_chained_tools32.dll";
    const std::string path = tktest::TempDirectory() + name;
    ASSERT_TRUE(CopyFileA((tktest::ProgramDirectory() + "tools.dll").c_str(), path.c_str(), FALSE));
    HMODULE copy = LoadLibraryA(path.c_str());
    ASSERT_NE(copy, nullptr);
    typedef void (*Function)();
    const auto entry = [copy](const char* name) {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(copy, name)));
    };
    const Function initialize = entry("_Z12TkInitializev"), terminate = entry("_Z11TkTerminatev");
    ASSERT_NE(initialize, nullptr);
    ASSERT_NE(terminate, nullptr);

    const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(before);
    initialize();
    g_chained = SetUnhandledExceptionFilter(Reporter);
    EXPECT_NE(g_chained, before) << "the library installed a filter of its own";
    terminate();
    EXPECT_TRUE(FreeLibrary(copy));
    const bool loaded = GetModuleHandleA(name) != nullptr;
    EXPECT_EQ(SetUnhandledExceptionFilter(before), Reporter) << "the library left the reporter's filter in place";
    ASSERT_TRUE(loaded) << "the library was unmapped while the reporter's filter chains to it";

    /* The chain still runs, through the library's filter to the one before
     * it, for an exception on a thread without a translator. */
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0xE0000017;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = { &record, &context };
    EXPECT_EQ(Reporter(&pointers), EXCEPTION_CONTINUE_SEARCH);
}

}  // namespace
