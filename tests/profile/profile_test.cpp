/* The settings profile through tools.dll, on real files beside this
 * program (the home module). Every test works on a file name of its own,
 * made unique by the process id, and removes it again. */
#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <cstdint>
#include <string>

#include "tools/profile.h"
#include "support/child_process.h"
#include "support/vtable_slot.h"

namespace {

using tktest::TempDirectory;

void Remove(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

std::string Stored(const std::string& path, const char* section, const char* key)
{
    char text[128];
    DWORD n = GetPrivateProfileStringA(section, key, "<missing>", text, sizeof text, path.c_str());
    return std::string(text, n);
}

class Profile : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int serial;
        name_ = "tk_profile_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++serial) + ".ini";
        path_ = tktest::ProgramDirectory() + name_;
        copy_ = TempDirectory() + name_;
        Remove(path_);
        Remove(copy_);
    }
    void TearDown() override
    {
        Remove(path_);
        Remove(copy_);
    }
    void WriteFile(const char* content)
    {
        FILE* f = fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs(content, f);
        fclose(f);
    }

    std::string name_, path_, copy_;
};

TEST_F(Profile, TheFileIsNamedRelativeToTheProgramsDirectory)
{
    EXPECT_EQ(std::string(CProfile(name_.c_str()).Path()), path_);
}

TEST_F(Profile, MissingFilesSectionsAndKeysGiveDefaults)
{
    CProfile profile(name_.c_str());
    /* No file yet; then a file without the section; then the section
     * without the key. */
    const char* sections[] = { "Run", "Other", "Run" };
    for (const char* section : sections) {
        profile.Open(section);
        int i = 7;
        float f = 7;
        char text[8] = "old";
        unsigned long size = sizeof text;
        EXPECT_EQ(profile.QueryValue(i, "missing"), S_OK);
        EXPECT_EQ(profile.QueryValue(f, "missing"), S_OK);
        EXPECT_EQ(profile.QueryValue(text, "missing", &size), S_OK);
        EXPECT_EQ(i, 0) << section;
        EXPECT_EQ(f, 0.0f) << section;
        EXPECT_STREQ(text, "") << section;
        EXPECT_EQ(size, 0u) << section;
        profile.Open("Run");
        ASSERT_EQ(profile.SetValue(1, "present"), S_OK);
    }
}

TEST_F(Profile, IntegersAreReadInBaseZero)
{
    CProfile profile(name_.c_str());
    profile.Open("Numbers");
    const struct {
        const char* text;
        int value;
    } cases[] = {
        { "0x1F", 31 }, { "010", 8 }, { "12abc", 12 }, { "-2", -2 }, { "abc", 0 },
        { "99999999999", INT_MAX }, { "-99999999999", INT_MIN },
    };
    for (const auto& c : cases) {
        ASSERT_EQ(profile.SetValue(c.text, "k"), S_OK);
        int value = 1;
        EXPECT_EQ(profile.QueryValue(value, "k"), S_OK);
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST_F(Profile, IntegerExtremesAreStoredInFullAndReadBackExactly)
{
    CProfile profile(name_.c_str());
    profile.Open("Numbers");
    ASSERT_EQ(profile.SetValue(INT_MAX, "max"), S_OK);
    ASSERT_EQ(profile.SetValue(INT_MIN, "min"), S_OK);
    EXPECT_EQ(Stored(path_, "Numbers", "max"), "2147483647");
    EXPECT_EQ(Stored(path_, "Numbers", "min"), "-2147483648");
    int max = 0, min = 0;
    profile.QueryValue(max, "max");
    profile.QueryValue(min, "min");
    EXPECT_EQ(max, INT_MAX);
    EXPECT_EQ(min, INT_MIN);
}

TEST_F(Profile, RealsReadBackRoundedToFiveDecimals)
{
    CProfile profile(name_.c_str());
    profile.Open("Reals");
    ASSERT_EQ(profile.SetValue(1.5f, "a"), S_OK);
    ASSERT_EQ(profile.SetValue(0.123456f, "b"), S_OK);
    EXPECT_EQ(Stored(path_, "Reals", "a"), "1.50000");
    float a = 0, b = 0;
    profile.QueryValue(a, "a");
    profile.QueryValue(b, "b");
    EXPECT_EQ(a, 1.5f);
    EXPECT_EQ(b, 0.12346f);
}

TEST_F(Profile, RealsTooWideForFixedDecimalsReadBackAsWritten)
{
    CProfile profile(name_.c_str());
    profile.Open("Reals");
    const float values[] = { 1e9f, 123456789.0f, -1e8f, -123456789.0f, 3.40282347e38f, -3.40282347e38f, 1e20f };
    for (float v : values) {
        ASSERT_EQ(profile.SetValue(v, "k"), S_OK);
        EXPECT_LE(Stored(path_, "Reals", "k").size(), 15u) << v;
        float back = 0;
        profile.QueryValue(back, "k");
        EXPECT_EQ(back, v);
    }
}

TEST_F(Profile, ATextReadStopsAtTheCallersCapacity)
{
    CProfile profile(name_.c_str());
    profile.Open("Texts");
    ASSERT_EQ(profile.SetValue("abcdef", "k"), S_OK);
    char text[8];
    memset(text, '#', sizeof text);
    unsigned long size = 4;
    EXPECT_EQ(profile.QueryValue(text, "k", &size), S_OK);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(text[4], '#');
    size = sizeof text;
    profile.QueryValue(text, "k", &size);
    EXPECT_STREQ(text, "abcdef");
    EXPECT_EQ(size, 6u);

    ASSERT_EQ(profile.SetValue(static_cast<const char*>(nullptr), "k"), S_OK);
    EXPECT_EQ(Stored(path_, "Texts", "k"), "<missing>");
}

TEST_F(Profile, ALongSectionNameOpensItsFirst259Characters)
{
    std::string longName(300, 's');
    longName[258] = 'e';
    CProfile profile(name_.c_str());
    profile.Open(longName.c_str());
    EXPECT_EQ(std::string(profile.Section()), longName.substr(0, 259));
    ASSERT_EQ(profile.SetValue(5, "k"), S_OK);

    CProfile other(name_.c_str());
    other.Open(longName.substr(0, 259).c_str());
    int value = 0;
    other.QueryValue(value, "k");
    EXPECT_EQ(value, 5);
}

TEST_F(Profile, CopiesKeepTheOpenSectionAndGoTheirOwnWay)
{
    CProfile profile(name_.c_str());
    profile.Open("A");
    CProfile copy(profile);
    EXPECT_STREQ(copy.Section(), "A");
    EXPECT_STREQ(copy.Path(), profile.Path());
    profile.Close();
    EXPECT_STREQ(copy.Section(), "A");
    ASSERT_EQ(copy.SetValue(3, "k"), S_OK);
    EXPECT_EQ(Stored(path_, "A", "k"), "3");

    CProfile assigned("elsewhere.ini");
    assigned = copy;
    EXPECT_STREQ(assigned.Path(), profile.Path());
    copy.Open("B");
    EXPECT_STREQ(assigned.Section(), "A");
}

TEST_F(Profile, AReadOnlyFileIsWorkedOnAsACopyInTheTemporaryDirectory)
{
    WriteFile("[Run]\r\nrounds=7\r\n");
    ASSERT_TRUE(SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY));

    CProfile first(name_.c_str());
    EXPECT_EQ(std::string(first.Path()), copy_);
    EXPECT_FALSE(GetFileAttributesA(path_.c_str()) & FILE_ATTRIBUTE_READONLY);
    first.Open("Run");
    int rounds = 0;
    first.QueryValue(rounds, "rounds");
    EXPECT_EQ(rounds, 7);
    ASSERT_EQ(first.SetValue(9, "rounds"), S_OK);
    EXPECT_EQ(Stored(copy_, "Run", "rounds"), "9");
    EXPECT_EQ(Stored(path_, "Run", "rounds"), "7");

    CProfile later(name_.c_str());
    EXPECT_EQ(std::string(later.Path()), path_);
    later.Open("Run");
    ASSERT_EQ(later.SetValue(11, "rounds"), S_OK);
    EXPECT_EQ(Stored(path_, "Run", "rounds"), "11");
    EXPECT_EQ(Stored(copy_, "Run", "rounds"), "9");
}

TEST_F(Profile, AFileThatCannotBeWrittenIsEFailAndChangesNothing)
{
    /* Neither a directory that does not exist nor a file name taken by a
     * directory can be written, whoever runs the test. */
    std::string missing = "tk_missing_" + std::to_string(GetCurrentProcessId());
    std::string inMissing = missing + "\\" + name_;
    CProfile profile(inMissing.c_str());
    profile.Open("Run");
    EXPECT_EQ(profile.SetValue(1, "k"), E_FAIL);
    EXPECT_EQ(profile.SetValue(1.0f, "k"), E_FAIL);
    EXPECT_EQ(profile.SetValue("v", "k"), E_FAIL);
    EXPECT_EQ(GetFileAttributesA((tktest::ProgramDirectory() + missing).c_str()), INVALID_FILE_ATTRIBUTES);
    int value = 4;
    profile.QueryValue(value, "k");
    EXPECT_EQ(value, 0);

    ASSERT_TRUE(CreateDirectoryA(path_.c_str(), nullptr));
    CProfile onDirectory(name_.c_str());
    onDirectory.Open("Run");
    EXPECT_EQ(onDirectory.SetValue(1, "k"), E_FAIL);
    DWORD attributes = GetFileAttributesA(path_.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(RemoveDirectoryA(path_.c_str())) << "the directory was filled";
}

using tktest::Slot;

TEST(ProfileLayout, OperationsKeepTheirSlotsAndFields)
{
    EXPECT_EQ(Slot(static_cast<HRESULT (CProfile::*)(char*, const char*, unsigned long*)>(&CProfile::QueryValue)), 2);
    EXPECT_EQ(Slot(static_cast<HRESULT (CProfile::*)(float&, const char*)>(&CProfile::QueryValue)), 3);
    EXPECT_EQ(Slot(static_cast<HRESULT (CProfile::*)(int&, const char*)>(&CProfile::QueryValue)), 4);
    EXPECT_EQ(Slot(static_cast<HRESULT (CProfile::*)(const char*, const char*)>(&CProfile::SetValue)), 5);
    EXPECT_EQ(Slot(static_cast<HRESULT (CProfile::*)(float, const char*)>(&CProfile::SetValue)), 6);
    EXPECT_EQ(Slot(static_cast<HRESULT (CProfile::*)(int, const char*)>(&CProfile::SetValue)), 7);
    EXPECT_EQ(Slot(&CProfile::Open), 8);
    EXPECT_EQ(Slot(&CProfile::Close), 9);
    EXPECT_EQ(sizeof(CProfile), sizeof(void*) + 2 * MAX_PATH);
}

}  // namespace
