/* The loaded-library list's growth, failure and release order. */
#include <gtest/gtest.h>

#include <vector>

#include "component/component_platform.h"
#include "component/library_list.h"
#include "support/scripted_heap.h"

namespace {

using tktest::Heap;

std::vector<HMODULE> g_freed;

BOOL WINAPI Free(HMODULE m) { g_freed.push_back(m); return TRUE; }

tk::ComponentPlatform Fake()
{
    tk::ComponentPlatform fake = tk::kSystemComponentPlatform;
    fake.reallocate = tktest::ScriptedReallocate;
    fake.release = tktest::ScriptedRelease;
    fake.freeLibrary = Free;
    return fake;
}
const tk::ComponentPlatform kFake = Fake();

HMODULE Handle(int n) { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(n) << 16); }

class LibraryList : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::ComponentPlatform> use_{ tk::ComponentSeam(), kFake };

    void SetUp() override
    {
        g_freed.clear();
        Heap() = tktest::HeapScript();
    }
};

TEST_F(LibraryList, GrowsOneTwoFourAndFreesLastFirst)
{
    tk::LibraryList list;
    list.Append(Handle(1));
    EXPECT_EQ(list.Capacity(), 1);
    list.Append(Handle(2));
    EXPECT_EQ(list.Capacity(), 2);
    list.Append(Handle(3));
    EXPECT_EQ(list.Capacity(), 4);
    list.Append(Handle(3));   /* the same library twice is two entries */
    EXPECT_EQ(list.Capacity(), 4);
    list.Append(Handle(5));
    EXPECT_EQ(list.Capacity(), 8);
    EXPECT_EQ(list.Count(), 5);
    const size_t h = sizeof(HMODULE);
    EXPECT_EQ(Heap().requests, (std::vector<size_t>{ 1 * h, 2 * h, 4 * h, 8 * h })) << "bytes of 1, 2, 4, 8 handles";

    list.FreeAll();
    EXPECT_EQ(g_freed, (std::vector<HMODULE>{ Handle(5), Handle(3), Handle(3), Handle(2), Handle(1) }));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(Heap().releases, 1);

    list.FreeAll();   /* a second call finds nothing */
    EXPECT_EQ(g_freed.size(), 5u);
    EXPECT_EQ(Heap().releases, 1);

    list.Append(Handle(6));   /* starts again from capacity 1 */
    EXPECT_EQ(list.Capacity(), 1);
}

TEST_F(LibraryList, AHandleThatCannotBeRecordedIsDropped)
{
    tk::LibraryList list;
    list.Append(Handle(1));
    Heap().failAll = true;
    list.Append(Handle(2));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Capacity(), 1);
    EXPECT_EQ(list.At(0), Handle(1));
    Heap().failAll = false;
    list.Append(Handle(3));
    EXPECT_EQ(list.Count(), 2);
    list.FreeAll();
    EXPECT_EQ(g_freed, (std::vector<HMODULE>{ Handle(3), Handle(1) }));
}

TEST_F(LibraryList, DestructionReleasesStorageButFreesNoLibrary)
{
    {
        tk::LibraryList list;
        list.Append(Handle(1));
    }
    EXPECT_TRUE(g_freed.empty());
    EXPECT_EQ(Heap().releases, 1);
}

}  // namespace
