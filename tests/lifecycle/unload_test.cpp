/* A host that loads tools.dll itself and frees it without TkTerminate: the
 * unload notification ends what TkInitialize started. This program does not
 * import tools.dll; it reaches it only through LoadLibrary. */
#include <gtest/gtest.h>

#include <windows.h>

namespace {

typedef void (*Function)();

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

}  // namespace
