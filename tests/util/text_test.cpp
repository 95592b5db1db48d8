/* TkStrStr through tools.dll: case-insensitive search that always returns a
 * printable position. */
#include <gtest/gtest.h>

#include "tools/util.h"

namespace {

TEST(TkStrStr, FindsTheFirstPlaceIgnoringCase)
{
    const char path[] = "D:\\src\\Tools\\main";
    EXPECT_EQ(TkStrStr(path, "tools"), path + 7);
    const char abc[] = "abc";
    EXPECT_EQ(TkStrStr(abc, "BC"), abc + 1) << "a key that ends the text";
    EXPECT_EQ(TkStrStr(abc, "ABC"), abc) << "the whole text";
    const char twice[] = "velvet\\VelQuor\\velquor";
    EXPECT_EQ(TkStrStr(twice, "Velquor"), twice + 7) << "the first of two, after a partial match";
}

TEST(TkStrStr, ReturnsTheTextWhenThereIsNothingToFind)
{
    const char abc[] = "abc";
    EXPECT_EQ(TkStrStr(abc, ""), abc);
    EXPECT_EQ(TkStrStr(abc, "abcd"), abc) << "a key longer than the text";
    EXPECT_EQ(TkStrStr(abc, "x"), abc) << "absent: the text, not null";
    EXPECT_EQ(TkStrStr(abc, "c\\"), abc) << "no comparison runs past the text's end";
    const char empty[] = "";
    EXPECT_EQ(TkStrStr(empty, "a"), empty);
    EXPECT_EQ(TkStrStr(abc, nullptr), abc);
    EXPECT_EQ(TkStrStr(nullptr, "a"), nullptr);
}

}  // namespace
