/* A host that loads tools.dll itself and frees it without TkTerminate: the
 * unload notification ends what TkInitialize started. This program does not
 * import tools.dll; it reaches it only through LoadLibrary. */
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "support/paths.h"
#include "support/process_usage.h"

namespace {

typedef void (*Function)();
typedef int (*UseEveryServiceFn)(const char* profileName, const char* componentPath);

const char kProfile[] = "tk_unload_test.ini";

/* Loads a library that uses every service of tools.dll (loading tools.dll
 * with it), uses them, and frees it, which frees tools.dll too.
 * TkInitialize, whose symbol-engine start takes seconds under emulation, is
 * the test above's: its unload runs TkTerminate there; without it, the
 * unload notification still frees the component's library. */
void UseOnce()
{
    HMODULE user = LoadLibraryA("tk_test_every_service.dll");
    ASSERT_NE(user, nullptr);
    ASSERT_NE(GetModuleHandleA("tools.dll"), nullptr);
    UseEveryServiceFn use = reinterpret_cast<UseEveryServiceFn>(
        reinterpret_cast<void*>(GetProcAddress(user, "UseEveryService")));
    ASSERT_NE(use, nullptr);
    EXPECT_EQ(use(kProfile, "tk_test_component.dll"), 0) << "bits of the services that misbehaved";
    EXPECT_TRUE(FreeLibrary(user));
    ASSERT_EQ(GetModuleHandleA("tools.dll"), nullptr);
    ASSERT_EQ(GetModuleHandleA("tk_test_component.dll"), nullptr) << "the component's library was freed";
}

TEST(Unload, FreeingTheLibraryStopsTheSymbolEngine)
{
    ASSERT_EQ(GetModuleHandleA("tools.dll"), nullptr);
    ASSERT_EQ(GetModuleHandleA("dbghelp.dll"), nullptr);
    /* Twice: the second load starts from a clean state. */
    for (int round = 1; round <= 2; ++round) {
        HMODULE tools = LoadLibraryA("tools.dll");
        ASSERT_NE(tools, nullptr) << "round " << round;
        Function initialize = reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(tools, "_Z12TkInitializev")));
        ASSERT_NE(initialize, nullptr);
        initialize();
        EXPECT_NE(GetModuleHandleA("dbghelp.dll"), nullptr) << "round " << round;
        EXPECT_TRUE(FreeLibrary(tools));
        EXPECT_EQ(GetModuleHandleA("tools.dll"), nullptr) << "round " << round;
        EXPECT_EQ(GetModuleHandleA("dbghelp.dll"), nullptr) << "unloading ran TkTerminate, round " << round;
    }
}

/* A hundred loads and frees in a row, each using every service: the library
 * leaves no handle and no memory behind. Tolerances: the first rounds settle the loader's and the
 * C runtime's own caches, so counting starts after ten; then 16 handles and
 * 1 MiB of private memory at most, far below what a leak of even one
 * handle or one exception object a round would add. (Wine counts no GDI
 * objects, so they go unchecked here; the graph's own tests count them.) */
TEST(Unload, AHundredLoadsAndFreesLeaveNothingBehind)
{
    /* The log goes to the current directory. */
    const std::string temp = tktest::TempDirectory();
    ASSERT_FALSE(temp.empty());
    char program[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, program), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(temp.c_str()));
    for (int round = 0; round < 10; ++round)
        UseOnce();
    const int handles = tktest::HandleCount();
    ASSERT_GT(handles, 0) << "the process's handles cannot be counted";
    const SIZE_T memory = tktest::PrivateBytes();
    for (int round = 0; round < 100; ++round)
        UseOnce();
    const int handlesAfter = tktest::HandleCount();
    EXPECT_LE(handlesAfter, handles + 16) << "handles " << handles << " -> " << handlesAfter;
    const SIZE_T memoryAfter = tktest::PrivateBytes();
    EXPECT_LE(memoryAfter, memory + 1024 * 1024) << "private bytes from " << memory;
    printf("after rounds 10 and 110: handles %d and %d, private bytes %lu and %lu\n", handles, handlesAfter,
           static_cast<unsigned long>(memory), static_cast<unsigned long>(memoryAfter));
    EXPECT_EQ(GetModuleHandleA("tools.dll"), nullptr);

    DeleteFileA("vq_tools.log");
    SetCurrentDirectoryA(program);
    char profile[MAX_PATH];
    GetModuleFileNameA(nullptr, profile, MAX_PATH);
    strcpy(strrchr(profile, '\\') + 1, kProfile);
    DeleteFileA(profile);
}

/* Crash reports keep the library loaded: their thread runs its code, and
 * the host may free it while they are on, then turn them off through a
 * pointer it kept. The library must be there for that call and after it.
 * Last in this program: tools.dll stays loaded from here on. */
TEST(Unload, CrashReportsKeepTheLibraryLoaded)
{
    typedef long (*SetCrashReportFn)(const char* folder);
    HMODULE tools = LoadLibraryA("tools.dll");
    ASSERT_NE(tools, nullptr);
    SetCrashReportFn setCrashReport = reinterpret_cast<SetCrashReportFn>(
        reinterpret_cast<void*>(GetProcAddress(tools, "_Z16TkSetCrashReportPKc")));
    ASSERT_NE(setCrashReport, nullptr);
    ASSERT_EQ(setCrashReport(tktest::TempDirectory().c_str()), 0);
    EXPECT_TRUE(FreeLibrary(tools));
    EXPECT_EQ(GetModuleHandleA("tools.dll"), tools) << "freed while its reporter runs";
    EXPECT_EQ(setCrashReport(nullptr), 0);
    EXPECT_EQ(GetModuleHandleA("tools.dll"), tools) << "freed under the call that turned reports off";
}

}  // namespace
