/* Random section, key and value texts written by CProfile and read back,
 * with a fixed seed. What the platform's INI format cannot hold is kept
 * out of the texts (Storable) or modelled (Expected), case by case. */
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <random>
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

/* What the platform's format cannot hold at all is left out of the texts:
 * a line end (CR or LF) ends an entry, an equals sign ends a key, and a key
 * that starts with a bracket, after its blanks, is read as a section. */
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

/* What the format holds but changes: blanks (tab to carriage return,
 * space, and the end-of-file mark 0x1A) around a value are dropped, and so
 * is a pair of like quotes around what remains. Names lose their blanks as
 * well, but every lookup drops them the same way. */
std::string Expected(const std::string& value)
{
    const char blanks[] = " \t\n\v\f\r\x1A";
    size_t first = value.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    std::string s = value.substr(first, value.find_last_not_of(blanks) - first + 1);
    if (s.size() >= 2 && (s[0] == '"' || s[0] == '\'') && s.back() == s[0])
        s = s.substr(1, s.size() - 2);
    return s;
}

/* Names match without regard to case. */
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
     * random ends of two names fold to. */
    std::vector<std::string> sections;
    for (int n = 0; n < 4; ++n)
        sections.push_back(Storable(RandomText(random, 8) + "S" + std::to_string(n) + "S" + RandomText(random, 8), false));
    std::map<std::pair<std::string, std::string>, std::string> written;
    std::vector<std::pair<std::string, std::string>> names;

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
            /* The platform's removal compares section and key names with
             * their blanks: only names without blanks at their ends can be
             * removed. */
            if (choice == 9 && Expected(name.first) == name.first && Expected(name.second) == name.second) {
                ASSERT_EQ(writer.SetValue(static_cast<const char*>(nullptr), name.second.c_str()), S_OK);
                written[name] = "";
            } else {
                std::string value = Storable(RandomText(random, random() % 8 ? 30 : 1000), false);
                ASSERT_EQ(writer.SetValue(value.c_str(), name.second.c_str()), S_OK);
                written[name] = Expected(value);
            }
        }
        /* A reader of its own: what it finds is in the file. Every value
         * written so far is there, the removed ones are gone. */
        CProfile reader(name_.c_str());
        for (const auto& entry : written) {
            const std::string& section = entry.first.first;
            const std::string& key = entry.first.second;
            ASSERT_EQ(Read(reader, round % 2 ? FlipCase(section) : section, round % 2 ? FlipCase(key) : key),
                      entry.second)
                << "round " << round << "\nsection " << Hex(section) << "\nkey " << Hex(key);
        }
    }
    EXPECT_GT(written.size(), static_cast<size_t>(kRounds * kWritesPerRound / 2));
}

}  // namespace
