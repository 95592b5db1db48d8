/* A host that loads tools.dll itself and frees it without TkTerminate: the
 * unload notification ends what TkInitialize started. This program does not
 * import tools.dll; it reaches it only through LoadLibrary. */
#include <gtest/gtest.h>

#include <windows.h>

#include "support/private_bytes.h"

namespace {

typedef void (*Function)();
typedef unsigned long (*Checksum)(unsigned long, const unsigned char*, unsigned long);
typedef const char* (*Search)(const char*, const char*);
typedef unsigned long (*Clock)();

template <typename T>
T Entry(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

/* Loads tools.dll, uses the services that need no window or file, and
 * frees it. TkInitialize, whose symbol-engine start takes seconds under
 * emulation, is the test above's: its unload runs TkTerminate there. */
void UseOnce()
{
    HMODULE tools = LoadLibraryA("tools.dll");
    ASSERT_NE(tools, nullptr);
    const unsigned char data[] = "tools";
    EXPECT_EQ(Entry<Checksum>(tools, "_Z7adler32mPKhm")(1, data, 5), 0x069D0232u);
    const char text[] = "Bench\\Velquor\\cpu";
    EXPECT_EQ(Entry<Search>(tools, "_Z8TkStrStrPKcS0_")(text, "velquor"), text + 6);
    EXPECT_NE(Entry<Clock>(tools, "_Z14TkGetTickCountv")(), 0u);
    EXPECT_TRUE(FreeLibrary(tools));
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

/* A hundred loads and frees in a row: the library leaves no handle and no
 * memory behind. Tolerances: the first rounds settle the loader's and the
 * C runtime's own caches, so counting starts after ten; then 16 handles and
 * 1 MiB of private memory at most, far below what a leak of even one
 * handle or one exception object a round would add. (Wine counts no GDI
 * objects, so they go unchecked here; the graph's own tests count them.) */
TEST(Unload, AHundredLoadsAndFreesLeaveNothingBehind)
{
    for (int round = 0; round < 10; ++round)
        UseOnce();
    DWORD handles = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handles));
    const SIZE_T memory = tktest::PrivateBytes();
    for (int round = 0; round < 100; ++round)
        UseOnce();
    DWORD handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_LE(handlesAfter, handles + 16) << "handles " << handles << " -> " << handlesAfter;
    EXPECT_LE(tktest::PrivateBytes(), memory + 1024 * 1024) << "private bytes from " << memory;
    EXPECT_EQ(GetModuleHandleA("tools.dll"), nullptr);
}

}  // namespace
