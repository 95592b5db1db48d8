/* A host that loads tools.dll, starts fault translation and frees the
 * library again, round after round, while threads of its own raise
 * exceptions all the while: every one of them passes the library's
 * handlers while it is loaded, and none may run its code once it is gone.
 * This program does not import tools.dll; it reaches it only through
 * LoadLibrary. */
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

namespace {

typedef void (*Function)();

volatile LONG g_stop;
volatile LONG g_raised;

/* A C++ throw and a fault that the system handles itself, over and over:
 * on x86_64 each throw is an exception of the system's too. */
DWORD WINAPI RaiseUntilStopped(void*)
{
    while (!g_stop) {
        try {
            throw std::runtime_error("the host's own");
        } catch (const std::runtime_error&) {
            InterlockedIncrement(&g_raised);
        }
        if (IsBadReadPtr(nullptr, 4))
            InterlockedIncrement(&g_raised);
    }
    return 0;
}

TEST(FaultUnload, FreeingTheLibraryWhileOtherThreadsRaiseExceptions)
{
    ASSERT_EQ(GetModuleHandleA("tools.dll"), nullptr);
    HANDLE threads[2];
    for (HANDLE& thread : threads) {
        thread = CreateThread(nullptr, 0, RaiseUntilStopped, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    const int kRounds = 200;
    int unloaded = 0;
    for (int round = 0; round < kRounds; ++round) {
        HMODULE tools = LoadLibraryA("tools.dll");
        ASSERT_NE(tools, nullptr) << "round " << round;
        Function initialize = reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(tools, "_Z12TkInitializev")));
        ASSERT_NE(initialize, nullptr);
        initialize();
        const LONG before = g_raised;
        while (g_raised < before + 3)
            SwitchToThread();
        EXPECT_TRUE(FreeLibrary(tools));
        unloaded += GetModuleHandleA("tools.dll") == nullptr;
    }
    InterlockedExchange(&g_stop, 1);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE thread : threads)
        CloseHandle(thread);
    EXPECT_EQ(unloaded, kRounds) << "each round unloaded the library";
}

}  // namespace
