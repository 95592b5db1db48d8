/* Component creation against real libraries: what is loaded, recorded,
 * released and returned on each road through NoRegCoCreate. */
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tools/component.h"
#include "tools/runtime.h"
#include "component/component_platform.h"
#include "component/library_list.h"
#include "support/child_process.h"
#include "support/test_component.h"

namespace {

using namespace testcomponent;

const char kNoFactory[] = "tk_test_no_factory.dll";
void* const kUntouched = reinterpret_cast<void*>(0x5EED);

bool Loaded(const char* name) { return GetModuleHandleA(name) != nullptr; }

struct Live {
    LONG factories;
    LONG counters;
};

Live LiveObjects()
{
    Live live = { -1, -1 };
    HMODULE library = GetModuleHandleA(kFileName);
    LiveObjectsFn fn = library
        ? reinterpret_cast<LiveObjectsFn>(reinterpret_cast<void*>(GetProcAddress(library, "TestLiveObjects")))
        : nullptr;
    if (fn)
        fn(&live.factories, &live.counters);
    return live;
}

/* The error that a library's unload leaves behind, as any unloading code
 * may; none when negative. */
long g_unloadError = -1;

BOOL WINAPI FreeLeavingError(HMODULE module)
{
    const BOOL freed = FreeLibrary(module);
    if (g_unloadError >= 0)
        SetLastError(static_cast<DWORD>(g_unloadError));
    return freed;
}

tk::ComponentPlatform UnloadLeavingError()
{
    tk::ComponentPlatform platform = tk::kSystemComponentPlatform;
    platform.freeLibrary = FreeLeavingError;
    return platform;
}
const tk::ComponentPlatform kUnloadLeavingError = UnloadLeavingError();

class Create : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::ComponentPlatform> use_{ tk::ComponentSeam(), kUnloadLeavingError };

    void SetUp() override
    {
        ASSERT_FALSE(Loaded(kFileName));
        ASSERT_EQ(tk::LoadedLibraries().Count(), 0);
    }
    void TearDown() override
    {
        TkTerminate();
        g_unloadError = -1;
        EXPECT_FALSE(Loaded(kFileName)) << "TkTerminate left the component library loaded";
        EXPECT_FALSE(Loaded(kNoFactory));
    }
};

TEST_F(Create, ALibraryThatCannotBeLoadedGivesItsLastErrorAndTouchesNothing)
{
    void* out = kUntouched;
    EXPECT_EQ(NoRegCoCreate("tk_no_such_library.dll", kCounterClass, kCounterId, &out),
              static_cast<HRESULT>(0x8007007E));
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(tk::LoadedLibraries().Count(), 0);
}

TEST_F(Create, ALibraryWithoutEntryPointIsUnloadedAndGivesTheErrorLeftByTheUnload)
{
    void* out = kUntouched;
    EXPECT_EQ(NoRegCoCreate(kNoFactory, kCounterClass, kCounterId, &out), static_cast<HRESULT>(0x8007007F));
    EXPECT_EQ(out, kUntouched);
    EXPECT_FALSE(Loaded(kNoFactory));
    EXPECT_EQ(tk::LoadedLibraries().Count(), 0);

    /* The error is read after the library has been unloaded. */
    g_unloadError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(NoRegCoCreate(kNoFactory, kCounterClass, kCounterId, &out), static_cast<HRESULT>(0x80070005));

    /* An unload that clears the error must not turn the failure into S_OK. */
    g_unloadError = 0;
    EXPECT_EQ(NoRegCoCreate(kNoFactory, kCounterClass, kCounterId, &out), E_FAIL);
    EXPECT_EQ(out, kUntouched);
    EXPECT_FALSE(Loaded(kNoFactory));
    EXPECT_EQ(tk::LoadedLibraries().Count(), 0);
}

TEST_F(Create, ARefusedClassGivesTheLibrarysOwnResultAndUnloadsIt)
{
    void* out = kUntouched;
    EXPECT_EQ(NoRegCoCreate(kFileName, kRefusedClass, kCounterId, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, kUntouched);
    EXPECT_FALSE(Loaded(kFileName));
    EXPECT_EQ(tk::LoadedLibraries().Count(), 0);
}

TEST_F(Create, AGrantWithoutFactoryIsARefusal)
{
    void* out = kUntouched;
    EXPECT_EQ(NoRegCoCreate(kFileName, kEmptyClass, kCounterId, &out), E_NOINTERFACE);
    EXPECT_EQ(out, kUntouched);
    EXPECT_FALSE(Loaded(kFileName));
    EXPECT_EQ(tk::LoadedLibraries().Count(), 0);
}

TEST_F(Create, AnObjectIsMadeCalledAndReleasedWhileItsLibraryStaysRecorded)
{
    std::string path = tktest::ProgramDirectory() + kFileName;
    ICounter* counter = nullptr;
    ASSERT_EQ(NoRegCoCreate(path.c_str(), kCounterClass, kCounterId, reinterpret_cast<void**>(&counter)), S_OK);
    ASSERT_NE(counter, nullptr);
    HMODULE library = GetModuleHandleA(kFileName);
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(tk::LoadedLibraries().Count(), 1);
    EXPECT_EQ(tk::LoadedLibraries().At(0), library);

    Live live = LiveObjects();
    EXPECT_EQ(live.factories, 0) << "the factory was not released";
    EXPECT_EQ(live.counters, 1);

    LONG total = 0;
    EXPECT_EQ(counter->Add(2, &total), S_OK);
    EXPECT_EQ(counter->Add(40, &total), S_OK);
    EXPECT_EQ(total, 42);
    EXPECT_EQ(counter->Release(), 0u);
    EXPECT_EQ(LiveObjects().counters, 0);
    EXPECT_TRUE(Loaded(kFileName));
}

TEST_F(Create, APositiveGrantCountsAsSuccess)
{
    ICounter* counter = nullptr;
    EXPECT_EQ(NoRegCoCreate(kFileName, kPositiveClass, kCounterId, reinterpret_cast<void**>(&counter)), S_OK);
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(tk::LoadedLibraries().Count(), 1);
    EXPECT_EQ(LiveObjects().factories, 0);
    counter->Release();
}

TEST_F(Create, TheSameFileTwiceIsRecordedTwiceAndFreedExactlyTwice)
{
    /* A load of our own, so that one free too many would show. */
    HMODULE ours = LoadLibraryA(kFileName);
    ASSERT_NE(ours, nullptr);
    ICounter* first = nullptr;
    ICounter* second = nullptr;
    ASSERT_EQ(NoRegCoCreate(kFileName, kCounterClass, kCounterId, reinterpret_cast<void**>(&first)), S_OK);
    ASSERT_EQ(NoRegCoCreate(kFileName, kCounterClass, kCounterId, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_NE(first, second);
    ASSERT_EQ(tk::LoadedLibraries().Count(), 2);
    EXPECT_EQ(tk::LoadedLibraries().At(0), ours);
    EXPECT_EQ(tk::LoadedLibraries().At(1), ours);
    EXPECT_EQ(LiveObjects().counters, 2);
    first->Release();
    second->Release();

    TkTerminate();
    EXPECT_EQ(tk::LoadedLibraries().Count(), 0);
    EXPECT_TRUE(Loaded(kFileName)) << "freed more often than recorded";
    FreeLibrary(ours);
    EXPECT_FALSE(Loaded(kFileName)) << "freed less often than recorded";
}

TEST_F(Create, AFailingCreateInstanceKeepsTheLibraryUntilTerminate)
{
    void* out = kUntouched;
    EXPECT_EQ(NoRegCoCreate(kFileName, kFailingClass, kCounterId, &out), kCreateFailure);
    /* The factory's own COM rule, not ours: a failing CreateInstance nulls
     * the out place. */
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(Loaded(kFileName));
    EXPECT_EQ(tk::LoadedLibraries().Count(), 1);
    EXPECT_EQ(LiveObjects().factories, 0);
    TkTerminate();
    EXPECT_FALSE(Loaded(kFileName));
}

TEST_F(Create, AnInterfaceTheObjectLacksIsTheFactorysAnswer)
{
    const IID unknownInterface = { 0x1, 0x2, 0x3, { 4, 5, 6, 7, 8, 9, 10, 11 } };
    void* out = kUntouched;
    EXPECT_EQ(NoRegCoCreate(kFileName, kCounterClass, unknownInterface, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(tk::LoadedLibraries().Count(), 1);
    EXPECT_EQ(LiveObjects().counters, 0);
}

TEST_F(Create, NullArgumentsLoadNothing)
{
    void* out = kUntouched;
    EXPECT_EQ(NoRegCoCreate(nullptr, kCounterClass, kCounterId, &out), E_INVALIDARG);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(NoRegCoCreate(kFileName, kCounterClass, kCounterId, nullptr), E_POINTER);
    EXPECT_FALSE(Loaded(kFileName));
    EXPECT_EQ(tk::LoadedLibraries().Count(), 0);
}

TEST_F(Create, NoOleCoCreateCreatesNothing)
{
    void* out = kUntouched;
    EXPECT_EQ(NoOleCoCreate(kCounterClass, kCounterId, &out), S_OK);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(tk::LoadedLibraries().Count(), 0);
}

}  // namespace
