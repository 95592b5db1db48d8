/* The reserve that one thread draws on instead of the C heap. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include "base/allocation.h"

namespace {

/* Sets a reserve aside and has this thread draw on it, for the scope. */
class Drawing {
public:
    explicit Drawing(size_t bytes) : set_(tk::SetAsideReserve(bytes, 4096)) { tk::DrawOnReserve(GetCurrentThreadId()); }
    ~Drawing()
    {
        tk::DrawOnReserve(0);
        tk::FreeReserve();
    }
    bool Set() const { return set_; }

private:
    bool set_;
};

DWORD WINAPI AllocateOnOtherThread(void* block)
{
    *static_cast<void**>(block) = tk::Allocate(64);
    return 0;
}

TEST(Reserve, HandsOutAlignedBlocksInOrderAndGrowsTheLastInPlace)
{
    const Drawing drawing(1 << 20);
    ASSERT_TRUE(drawing.Set());
    EXPECT_FALSE(tk::SetAsideReserve(4096, 0));   /* one at a time */
    char* a = static_cast<char*>(tk::Allocate(10));
    char* b = static_cast<char*>(tk::Allocate(3 << 16));   /* past the committed part */
    ASSERT_TRUE(a && b);
    EXPECT_EQ(0u, reinterpret_cast<DWORD_PTR>(a) % (2 * sizeof(void*)));
    EXPECT_EQ(0u, reinterpret_cast<DWORD_PTR>(b) % (2 * sizeof(void*)));
    EXPECT_LT(a, b);
    memset(b, 7, 3 << 16);
    EXPECT_EQ(b, tk::Reallocate(b, 4 << 16));   /* the last grows where it lies */
    memcpy(a, "ten bytes", 10);
    char* moved = static_cast<char*>(tk::Reallocate(a, 100));
    ASSERT_NE(a, moved);                          /* another follows it: it moves */
    EXPECT_STREQ("ten bytes", moved);
    EXPECT_EQ(static_cast<char*>(tk::Reallocate(moved, 5)), moved);   /* shrinking keeps it */

    /* The last block released is handed out again; an earlier one is not. */
    const size_t used = tk::ReserveInUse();
    tk::Release(moved);
    EXPECT_LT(tk::ReserveInUse(), used);
    tk::Release(a);
    EXPECT_EQ(moved, tk::Allocate(100));

    /* More than the reserve holds fails; the reserve is still usable. */
    EXPECT_EQ(nullptr, tk::Allocate(2 << 20));
    EXPECT_NE(nullptr, tk::Allocate(16));
    tk::EmptyReserve();
    EXPECT_EQ(0u, tk::ReserveInUse());
}

TEST(Reserve, OnlyTheDrawingThreadTakesFromIt)
{
    const Drawing drawing(1 << 20);
    ASSERT_TRUE(drawing.Set());
    void* other = nullptr;
    HANDLE thread = CreateThread(nullptr, 0, AllocateOnOtherThread, &other, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    ASSERT_NE(nullptr, other);
    const size_t used = tk::ReserveInUse();
    tk::Release(other);   /* a heap block goes back to the heap */
    EXPECT_EQ(0u, used);
    EXPECT_EQ(0u, tk::ReserveInUse());
}

}  // namespace
