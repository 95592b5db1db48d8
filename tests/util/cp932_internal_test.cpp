/* Multibyte text in a process whose ANSI code page is 932, where a
 * double-byte character's second byte may be a backslash or a letter: the
 * text search and the report box's cut step by whole characters. */
#include <gtest/gtest.h>

#include <mbctype.h>
#include <string.h>

#include <windows.h>

#include <string>

#include "tools/util.h"
#include "errors/box_text.h"

namespace {

/* Katakana SO: lead byte 0x83, second byte 0x5C, the backslash. */
#define SO "\x83\x5C"
/* The kanji for "day": its second byte 0xFA is no ASCII. */
#define DAY "\x93\xFA"

class CodePage932 : public ::testing::Test {
protected:
    /* The ANSI code page is the system's; Wine takes it from the locale
     * (LC_ALL=ja_JP.SJIS). */
    void SetUp() override
    {
        if (GetACP() != 932)
            GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932";
        ASSERT_EQ(_getmbcp(), 932);
    }
};

TEST_F(CodePage932, TheSecondByteOfACharacterStartsNoMatch)
{
    const char text[] = SO "abc";
    EXPECT_EQ(TkStrStr(text, "\\a"), text) << "not found at the second byte of SO";
    const char both[] = SO "\\abc";
    EXPECT_EQ(TkStrStr(both, "\\A"), both + 2) << "the real backslash after it";
    const char path[] = "C:\\" DAY SO "\\VELQUOR\\x.cpp";
    EXPECT_EQ(TkStrStr(path, "velquor"), path + 8);
    EXPECT_EQ(TkStrStr(path, SO), path + 5) << "a double-byte key";
}

TEST_F(CodePage932, TheBoxTextIsCutBetweenCharacters)
{
    char text[] = "ab" SO SO;
    tk::CutAtCharacter(text, 3);
    EXPECT_STREQ(text, "ab") << "SO does not fit in three bytes and is not split";
    char whole[] = "ab" SO SO;
    tk::CutAtCharacter(whole, 4);
    EXPECT_STREQ(whole, "ab" SO);
    char lone[] = "ab\x83";
    tk::CutAtCharacter(lone, 10);
    EXPECT_STREQ(lone, "ab") << "a lead byte without its second byte";

    /* Two single bytes, then 300 double-byte characters: the 511th byte is
     * a lead byte. */
    std::string long_text = "xy";
    for (int i = 0; i < 300; ++i)
        long_text += DAY;
    char box[tk::kBoxTextSize + 1];
    box[tk::kBoxTextSize] = '~';
    tk::FormatBoxText(box, "%s", long_text.c_str());
    EXPECT_EQ(strlen(box), 510u) << "2 + 254 characters of two bytes";
    EXPECT_EQ(box[tk::kBoxTextSize], '~');
    tk::AskToContinue(box, MB_YESNO);
    EXPECT_EQ(strlen(box), 511u);
    EXPECT_STREQ(box + 500, "\nContinue?\n") << "cut to 2 + 249 characters, then the question";
}

}  // namespace
