/* TkStrStr against a plain reference search on random byte texts, with a
 * fixed seed: once in a single-byte code page, and once in code page 932,
 * where the search must step over double-byte characters whose bytes look
 * like letters, backslashes or lead bytes. The ANSI code page is the
 * system's, so a half that needs another skips; under Wine, CTest runs
 * each half in the locale it needs. Every text ends at an inaccessible page, so that a read
 * past its end faults. */
#include <gtest/gtest.h>

#include <ctype.h>

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "tools/util.h"
#include "support/guarded_buffer.h"
#include "support/hex.h"

namespace {

using tktest::Hex;

const int kRounds = 100000;

bool Lead932(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

unsigned char Fold(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

/* The first character boundary where key matches (A to Z equal to a to z,
 * the bytes of a double-byte character exactly), or 0. */
size_t Reference(const std::string& text, const std::string& key, bool doubleByte)
{
    if (key.empty())
        return 0;
    for (size_t i = 0; i + key.size() <= text.size();) {
        size_t j = 0;
        while (j < key.size()) {
            if (doubleByte && Lead932(text[i + j]) && j + 1 < key.size()) {
                if (text[i + j] != key[j] || text[i + j + 1] != key[j + 1])
                    break;
                j += 2;
            } else if (Fold(text[i + j]) == Fold(key[j])) {
                ++j;
            } else {
                break;
            }
        }
        if (j >= key.size())
            return i;
        i += doubleByte && Lead932(text[i]) && i + 1 < text.size() ? 2 : 1;
    }
    return 0;
}

/* Texts are made of whole characters drawn from pieces: a few letters and a
 * backslash often enough for matches to happen, and any other character. */
class Fuzz {
public:
    Fuzz(std::vector<std::string> pieces, bool doubleByte) : pieces_(pieces), doubleByte_(doubleByte), random_(20261208) {}

    void Run()
    {
        ASSERT_NE(textFence_.Data(), nullptr);
        ASSERT_NE(keyFence_.Data(), nullptr);
        int found = 0;
        for (int round = 0; round < kRounds; ++round) {
            std::vector<std::string> chars = Characters(random_() % 40);
            std::string text = Join(chars, 0, chars.size());
            /* A text cut after a lead byte: the search stops at the
             * terminator all the same. */
            if (doubleByte_ && random_() % 8 == 0)
                text += '\x83';
            std::string key;
            if (random_() % 2 && !chars.empty()) {
                size_t from = random_() % chars.size();
                key = FlipCase(Join(chars, from, from + 1 + random_() % 6));
            } else {
                std::vector<std::string> other = Characters(random_() % 4);
                key = Join(other, 0, other.size());
            }
            size_t expected = Reference(text, key, doubleByte_);
            const char* fencedText = textFence_.Place(text);
            const char* got = TkStrStr(fencedText, keyFence_.Place(key));
            ASSERT_EQ(got - fencedText, static_cast<ptrdiff_t>(expected))
                << "round " << round << "\ntext " << Hex(text) << "\nkey  " << Hex(key);
            found += expected > 0;
        }
        EXPECT_GT(found, kRounds / 10) << "the texts give matches away from the start";
    }

private:
    std::vector<std::string> Characters(size_t count)
    {
        std::vector<std::string> chars;
        for (size_t n = 0; n < count; ++n) {
            if (random_() % 4) {
                chars.push_back(pieces_[random_() % pieces_.size()]);
            } else {
                std::string c(1, static_cast<char>(1 + random_() % 255));
                if (doubleByte_ && Lead932(c[0])) {
                    /* Second bytes run from 0x40 to 0xFC, without 0x7F. */
                    unsigned char second = 0x40 + random_() % 0xBC;
                    c += static_cast<char>(second == 0x7F ? 0xFC : second);
                }
                chars.push_back(c);
            }
        }
        return chars;
    }

    static std::string Join(const std::vector<std::string>& chars, size_t from, size_t to)
    {
        std::string s;
        for (size_t n = from; n < to && n < chars.size(); ++n)
            s += chars[n];
        return s;
    }

    /* Flips the case of single-byte letters only: a letter's case in the
     * second byte of a double-byte character makes another character. */
    std::string FlipCase(std::string s)
    {
        for (size_t i = 0; i < s.size(); ++i) {
            if (doubleByte_ && Lead932(s[i])) {
                ++i;
            } else if (isalpha(static_cast<unsigned char>(s[i])) && s[i] > 0 && random_() % 2) {
                s[i] ^= 0x20;
            }
        }
        return s;
    }

    std::vector<std::string> pieces_;
    bool doubleByte_;
    std::mt19937 random_;
    /* Both texts end at an inaccessible page: a search that reads past a
     * terminator faults. */
    tktest::FencedBuffer textFence_{ 128 };
    tktest::FencedBuffer keyFence_{ 128 };
};

TEST(SingleByteSearch, AgreesWithAPlainSearch)
{
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (info.MaxCharSize != 1)
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " has double-byte characters";
    Fuzz({ "a", "A", "b", "B", "\\", "\x83", "\x5C", "\xE9", "\xC9" }, false).Run();
}

TEST(DoubleByteSearch, AgreesWithAPlainSearchSteppingByCharacters)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932";
    /* SO ends in a backslash, two katakana end in A and a, another in a
     * byte that is also a lead byte; 0xB1 is a single-byte katakana. */
    Fuzz({ "a", "A", "b", "\\", "\x83\x5C", "\x83\x41", "\x83\x61", "\x83\x83", "\x93\xFA", "\xB1" }, true).Run();
}

}  // namespace
