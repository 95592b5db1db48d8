/* Random section, key and value texts written by CProfile and read back,
 * with a fixed seed. What the platform's INI format cannot hold is kept
 * out of the texts (Storable) or modelled (Expected), case by case. The
 * platform's documentation settles only part of that; the rest was seen
 * under Wine and is marked as Wine's. On another system a read that
 * differs where one of Wine's rules applies (kWineRules) is reported with
 * the rule instead of failing. */
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/profile.h"
#include "support/child_process.h"
#include "support/hex.h"

namespace {

using tktest::Hex;

const int kRounds = 20;
const int kWritesPerRound = 8;

class ProfileRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = "tk_round_trip_" + std::to_string(GetCurrentProcessId()) + ".ini";
        path_ = tktest::ProgramDirectory() + name_;
        DeleteFileA(path_.c_str());
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    std::string name_, path_;
};

/* Bytes 1 to 255, with blanks, quotes and the format's own marks often
 * enough to meet each rule below. */
std::string RandomText(std::mt19937& random, size_t most)
{
    static const char marks[] = "aZ09 \t\x1A=;[]\"'#\\%";
    std::string s;
    for (size_t n = random() % (most + 1); n > 0; --n)
        s += random() % 3 ? marks[random() % (sizeof marks - 1)] : static_cast<char>(1 + random() % 255);
    return s;
}

const char kBlanks[] = " \t\n\v\f\r\x1A";

bool IsBlank(char c)
{
    return c != '\0' && strchr(kBlanks, c);
}

/* What the platform's format cannot hold at all is left out of the texts:
 * a line end (CR or LF) ends an entry and an equals sign ends a key, as
 * its "key=value" lines have it; and, as Wine reads them, a key that
 * starts with a bracket after its blanks is taken for a section. */
std::string Storable(const std::string& s, bool key)
{
    std::string out;
    for (char c : s)
        if (c != '\r' && c != '\n' && !(key && c == '='))
            out += c;
    size_t first = out.find_first_not_of(" \t\v\f\x1A");
    if (key && first != std::string::npos && out[first] == '[')
        out[first] = '(';
    return out;
}

/* What the format holds but changes: a pair of like quotes around a value
 * is dropped, as documented. Wine drops blanks (tab to carriage return,
 * space, and the end-of-file mark 0x1A) around the value before that, and
 * around names, which every lookup drops the same way. */
std::string WithoutBlanksAround(const std::string& text)
{
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string Expected(const std::string& value)
{
    std::string s = WithoutBlanksAround(value);
    if (s.size() >= 2 && (s[0] == '"' || s[0] == '\'') && s.back() == s[0])
        s = s.substr(1, s.size() - 2);
    return s;
}

/* Expectations that rest on Wine's reading of the format alone, and
 * whether an entry's section, key and value text meet one. */
struct WineRule {
    const char* what;
    bool (*applies)(const std::string& section, const std::string& key, const std::string& value);
};

bool BlankAtAnEnd(const std::string& s)
{
    return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back()));
}

const WineRule kWineRules[] = {
    { "blanks around names and values are dropped, 0x1A among them",
      [](const std::string& s, const std::string& k, const std::string& v) {
          return BlankAtAnEnd(s) || BlankAtAnEnd(k) || BlankAtAnEnd(v);
      } },
    { "a key that starts with a semicolon is a key, not a comment",
      [](const std::string&, const std::string& k, const std::string&) {
          size_t first = k.find_first_not_of(kBlanks);
          return first != std::string::npos && k[first] == ';';
      } },
    { "a section name may hold a closing bracket",
      [](const std::string& s, const std::string&, const std::string&) { return s.find(']') != std::string::npos; } },
};

std::string WineRulesMet(const std::string& section, const std::string& key, const std::string& value)
{
    std::string rules;
    for (const WineRule& rule : kWineRules)
        if (rule.applies(section, key, value))
            rules += std::string(rules.empty() ? "" : "; ") + rule.what;
    return rules;
}

bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

/* Names match without regard to case, as documented. */
std::string FlipCase(std::string s)
{
    for (char& c : s)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            c ^= 0x20;
    return s;
}

std::string Read(CProfile& profile, const std::string& section, const std::string& key)
{
    char text[2048];
    unsigned long size = sizeof text;
    profile.Open(section.c_str());
    EXPECT_EQ(profile.QueryValue(text, key.c_str(), &size), S_OK);
    return std::string(text, size);
}

TEST_F(ProfileRoundTrip, RandomTextsReadBackAsTheFormatKeepsThem)
{
    std::mt19937 random(20261208);
    /* A tag in the middle of every name keeps names apart, whatever the
     * random ends of two names fold to. Half the sections have no blanks
     * at their ends, so that their entries need not rest on Wine's rules. */
    std::vector<std::string> sections;
    for (int n = 0; n < 4; ++n) {
        std::string section = Storable(RandomText(random, 8) + "S" + std::to_string(n) + "S" + RandomText(random, 8), false);
        sections.push_back(n % 2 ? section : WithoutBlanksAround(section));
    }
    /* Each entry's value as written (empty when removed) and as read. */
    std::map<std::pair<std::string, std::string>, std::pair<std::string, std::string>> written;
    std::vector<std::pair<std::string, std::string>> names;

    const bool underWine = RunningUnderWine();
    std::set<std::pair<std::string, std::string>> differing;
    CProfile writer(name_.c_str());
    for (int round = 0; round < kRounds; ++round) {
        for (int n = 0; n < kWritesPerRound; ++n) {
            std::pair<std::string, std::string> name;
            unsigned choice = random() % 10;
            if (names.empty() || choice < 7) {
                name.first = sections[random() % sections.size()];
                name.second =
                    Storable(RandomText(random, 8) + "K" + std::to_string(names.size()) + "K" + RandomText(random, 8), true);
                names.push_back(name);
            } else {
                name = names[random() % names.size()];
            }
            writer.Open(name.first.c_str());
            /* Wine's removal compares section and key names with their
             * blanks: only names without blanks at their ends are removed. */
            if (choice == 9 && Expected(name.first) == name.first && Expected(name.second) == name.second) {
                ASSERT_EQ(writer.SetValue(static_cast<const char*>(nullptr), name.second.c_str()), S_OK);
                written[name] = { "", "" };
            } else {
                std::string value = Storable(RandomText(random, random() % 8 ? 30 : 1000), false);
                ASSERT_EQ(writer.SetValue(value.c_str(), name.second.c_str()), S_OK);
                written[name] = { value, Expected(value) };
            }
        }
        /* A reader of its own: what it finds is in the file. Every value
         * written so far is there, the removed ones are gone. */
        CProfile reader(name_.c_str());
        for (const auto& entry : written) {
            const std::string& section = entry.first.first;
            const std::string& key = entry.first.second;
            const std::string& expected = entry.second.second;
            std::string got = Read(reader, round % 2 ? FlipCase(section) : section, round % 2 ? FlipCase(key) : key);
            if (got == expected)
                continue;
            std::string where = "round " + std::to_string(round) + "\nsection " + Hex(section) + "\nkey " + Hex(key) +
                "\nread " + Hex(got) + "\nexpected " + Hex(expected);
            std::string rules = WineRulesMet(section, key, entry.second.first);
            if (rules.empty())
                FAIL() << where;
            if (underWine)
                FAIL() << where << "\nas Wine has it: " << rules;
            if (differing.insert(entry.first).second)
                printf("differs from Wine, where %s:\n%s\n", rules.c_str(), where.c_str());
        }
    }
    EXPECT_GT(written.size(), static_cast<size_t>(kRounds * kWritesPerRound / 2));
}

}  // namespace
