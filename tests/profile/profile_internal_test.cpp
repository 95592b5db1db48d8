/* The settings profile against a stand-in platform: where the file is
 * placed, when it is copied, and exactly what the INI functions are
 * handed. */
#include <gtest/gtest.h>

#include <mbctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "tools/profile.h"
#include "profile/profile_platform.h"

namespace {

struct Call {
    std::string section, key, text, file;
    DWORD capacity;
    bool nullText;
    bool writableDefault;
};

struct Fake {
    std::string module = "C:\\Bench\\prog.exe";
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool attributesChange = true;
    std::string temp = "C:\\Temp\\";
    bool copies = true;
    DWORD openError = 0;   /* why opening the file for writing fails; 0: it opens */
    std::string stored;   /* what every read finds; empty: the default */
    BOOL writes = TRUE;

    std::vector<HMODULE> modulesAsked;
    std::vector<DWORD> attributesSet;
    std::vector<std::string> attributePaths;
    std::vector<std::string> copied;   /* from, to */
    std::vector<std::string> opened;
    std::vector<HANDLE> closed;
    std::vector<Call> reads, writesSeen;
} g;

DWORD WINAPI ModuleFileName(HMODULE module, LPSTR path, DWORD capacity)
{
    g.modulesAsked.push_back(module);
    DWORD n = static_cast<DWORD>(g.module.size());
    if (n >= capacity) {
        memcpy(path, g.module.data(), capacity);   /* unterminated, as on older systems */
        return capacity;
    }
    memcpy(path, g.module.c_str(), n + 1);
    return n;
}
DWORD WINAPI FileAttributes(LPCSTR) { return g.attributes; }
BOOL WINAPI SetAttributes(LPCSTR path, DWORD a)
{
    g.attributesSet.push_back(a);
    g.attributePaths.push_back(path);
    /* Only the original's may stay: the copy is the profile's own. */
    return g.attributesChange || strncmp(path, g.temp.c_str(), g.temp.size()) == 0;
}
DWORD WINAPI TempPath(DWORD capacity, LPSTR path)
{
    if (g.temp.size() >= capacity)
        return static_cast<DWORD>(g.temp.size() + 1);
    strcpy(path, g.temp.c_str());
    return static_cast<DWORD>(g.temp.size());
}
BOOL WINAPI Copy(LPCSTR from, LPCSTR to, BOOL)
{
    g.copied.push_back(from);
    g.copied.push_back(to);
    return g.copies;
}
bool Writable(const void* p)
{
    MEMORY_BASIC_INFORMATION info;
    const DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return VirtualQuery(p, &info, sizeof info) == sizeof info && (info.Protect & kWritable);
}

HANDLE const kFile = reinterpret_cast<HANDLE>(0x1234);

HANDLE WINAPI Open(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE)
{
    /* Asked whether it may be written, never to be made. */
    EXPECT_EQ(access, static_cast<DWORD>(GENERIC_WRITE));
    EXPECT_EQ(disposition, static_cast<DWORD>(OPEN_EXISTING));
    g.opened.push_back(path);
    if (g.openError) {
        SetLastError(g.openError);
        return INVALID_HANDLE_VALUE;
    }
    return kFile;
}
BOOL WINAPI Close(HANDLE h)
{
    g.closed.push_back(h);
    return TRUE;
}
DWORD WINAPI Read(LPCSTR s, LPCSTR k, LPCSTR d, LPSTR t, DWORD n, LPCSTR f)
{
    g.reads.push_back({ s, k, d, f, n, false, Writable(d) });
    std::string value = g.stored.empty() ? d : g.stored;
    value = value.substr(0, n - 1);
    strcpy(t, value.c_str());
    return static_cast<DWORD>(value.size());
}
BOOL WINAPI Write(LPCSTR s, LPCSTR k, LPCSTR t, LPCSTR f)
{
    g.writesSeen.push_back({ s, k, t ? t : "", f, 0, t == nullptr, false });
    return g.writes;
}

const tk::ProfilePlatform kFake = { ModuleFileName, FileAttributes, SetAttributes, TempPath, Copy, Open, Close, Read, Write };

class Profile : public ::testing::Test {
protected:
    void SetUp() override { g = Fake(); }

    tk::UsingPlatform<tk::ProfilePlatform> use_{ tk::ProfileSeam(), kFake };
};

TEST_F(Profile, TheFileLiesInTheProgramsDirectory)
{
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Bench\\x.ini");
    /* The home module is the calling program, not tools.dll. */
    EXPECT_EQ(g.modulesAsked, (std::vector<HMODULE>{ nullptr }));
    EXPECT_STREQ(CProfile("sub\\x.ini").Path(), "C:\\Bench\\sub\\x.ini");
    EXPECT_STREQ(CProfile(nullptr).Path(), "C:\\Bench\\");
    EXPECT_STREQ(CProfile("x.ini").Section(), "");
    /* The longest program path that fits. */
    g.module = "C:\\" + std::string(247, 'd') + "\\" + std::string(8, 'p');
    EXPECT_EQ(std::string(CProfile("x.ini").Path()), g.module.substr(0, 251) + "x.ini");
}

TEST_F(Profile, WithoutTheProgramsDirectoryTheFileLiesInTheTemporaryDirectory)
{
    /* A name without a directory would mean the Windows directory to the
     * INI functions. The file found in the temporary directory is used as
     * it is: no rule moves it anywhere. */
    g.attributes = FILE_ATTRIBUTE_READONLY;
    g.openError = ERROR_ACCESS_DENIED;
    const std::string modules[] = {
        "C:\\" + std::string(247, 'd') + "\\" + std::string(9, 'p'),   /* 260 characters */
        "C:\\" + std::string(247, 'd') + "\\" + std::string(50, 'p'),
        "prog.exe",
        "",   /* the path cannot be learned */
    };
    for (const std::string& module : modules) {
        g.module = module;
        EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Temp\\x.ini") << module.size();
    }
    EXPECT_TRUE(g.attributesSet.empty());
    EXPECT_TRUE(g.opened.empty());
    EXPECT_TRUE(g.copied.empty());

    std::string name(300, 'n');
    EXPECT_EQ(std::string(CProfile(name.c_str()).Path()), "C:\\Temp\\" + name.substr(0, 259 - 8));
    /* With no temporary directory either, nothing better than the name. */
    g.temp = std::string(300, 't');
    EXPECT_STREQ(CProfile("x.ini").Path(), "x.ini");
}

TEST_F(Profile, ATrailByteLikeABackslashIsNoSeparator)
{
    /* 0x95 0x5C is one character in code page 932. */
    g.module = "C:\\Bench\\\x95\x5C.exe";
    ASSERT_EQ(_setmbcp(932), 0);
    std::string path = CProfile("x.ini").Path();
    _setmbcp(_MB_CP_ANSI);
    EXPECT_EQ(path, "C:\\Bench\\x.ini");
}

TEST_F(Profile, LongPathsAreCutTo259Characters)
{
    std::string name(300, 'n');
    CProfile profile(name.c_str());
    EXPECT_EQ(std::string(profile.Path()), "C:\\Bench\\" + name.substr(0, 259 - 9));
}

TEST_F(Profile, AReadOnlyFileIsMadeWritableAndCopiedToTheTemporaryDirectory)
{
    g.attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    CProfile profile("x.ini");
    EXPECT_EQ(g.attributesSet, (std::vector<DWORD>{ FILE_ATTRIBUTE_ARCHIVE }));
    EXPECT_EQ(g.copied, (std::vector<std::string>{ "C:\\Bench\\x.ini", "C:\\Temp\\x.ini" }));
    EXPECT_STREQ(profile.Path(), "C:\\Temp\\x.ini");

    profile.Open("Run");
    profile.SetValue(1, "k");
    ASSERT_EQ(g.writesSeen.size(), 1u);
    EXPECT_EQ(g.writesSeen[0].file, "C:\\Temp\\x.ini");

    /* Nothing but the read-only flag: the attributes left are "normal". */
    g = Fake();
    g.attributes = FILE_ATTRIBUTE_READONLY;
    CProfile bare("x.ini");
    EXPECT_EQ(g.attributesSet, (std::vector<DWORD>{ FILE_ATTRIBUTE_NORMAL }));
}

TEST_F(Profile, AFileTheUserMayNotWriteIsWorkedOnAsACopy)
{
    /* Protected by its access control, not by its attributes. */
    g.attributes = FILE_ATTRIBUTE_ARCHIVE;
    g.openError = ERROR_ACCESS_DENIED;
    CProfile profile("x.ini");
    EXPECT_EQ(g.opened, (std::vector<std::string>{ "C:\\Bench\\x.ini" }));
    EXPECT_TRUE(g.attributesSet.empty());
    EXPECT_EQ(g.copied, (std::vector<std::string>{ "C:\\Bench\\x.ini", "C:\\Temp\\x.ini" }));
    EXPECT_STREQ(profile.Path(), "C:\\Temp\\x.ini");

    /* Read-only as well, and the attribute stays: the copy takes it, and
     * loses it. */
    g = Fake();
    g.attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    g.attributesChange = FALSE;
    g.openError = ERROR_ACCESS_DENIED;
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Temp\\x.ini");
    EXPECT_EQ(g.copied.size(), 2u);
    EXPECT_EQ(g.attributePaths, (std::vector<std::string>{ "C:\\Bench\\x.ini", "C:\\Temp\\x.ini" }));
    EXPECT_EQ(g.attributesSet, (std::vector<DWORD>{ FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE }));
}

TEST_F(Profile, WithoutACopyTheProfileStaysOnTheOriginal)
{
    g.attributes = FILE_ATTRIBUTE_ARCHIVE;
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Bench\\x.ini");
    EXPECT_TRUE(g.attributesSet.empty());
    EXPECT_TRUE(g.copied.empty());
    EXPECT_EQ(g.closed, (std::vector<HANDLE>{ kFile })) << "the file opened to ask is closed once";

    /* A file that another program holds without sharing it says nothing
     * of the user's rights. */
    g.attributes = FILE_ATTRIBUTE_READONLY;
    g.attributesChange = FALSE;
    g.openError = ERROR_SHARING_VIOLATION;
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Bench\\x.ini");
    g.attributes = FILE_ATTRIBUTE_ARCHIVE;
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Bench\\x.ini");
    EXPECT_TRUE(g.copied.empty());

    g.attributes = FILE_ATTRIBUTE_READONLY;
    g.attributesChange = TRUE;
    g.copies = FALSE;
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Bench\\x.ini");
    EXPECT_EQ(g.copied.size(), 2u);

    /* A copy whose path would have to be cut would be some other file. */
    g.copies = TRUE;
    g.temp = "C:\\" + std::string(250, 't') + "\\";   /* 254 + 5: just fits */
    EXPECT_EQ(std::string(CProfile("x.ini").Path()), g.temp + "x.ini");
    g.copied.clear();
    g.temp = "C:\\" + std::string(251, 't') + "\\";
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Bench\\x.ini");
    EXPECT_TRUE(g.copied.empty());
    g.temp = std::string(300, 't');
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Bench\\x.ini");
    EXPECT_TRUE(g.copied.empty());

    g.attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;
    g.openError = ERROR_ACCESS_DENIED;
    g.attributesSet.clear();
    g.opened.clear();
    EXPECT_STREQ(CProfile("x.ini").Path(), "C:\\Bench\\x.ini");
    EXPECT_TRUE(g.attributesSet.empty()) << "a directory's attributes were changed";
    EXPECT_TRUE(g.opened.empty()) << "a directory was opened as a file";
}

TEST_F(Profile, TheWriterIsHandedTheFormattedTexts)
{
    CProfile profile("x.ini");
    profile.Open("Run");
    EXPECT_EQ(profile.SetValue(1.5f, "a"), S_OK);
    EXPECT_EQ(profile.SetValue(-2, "b"), S_OK);
    EXPECT_EQ(profile.SetValue(INT_MIN, "c"), S_OK);
    EXPECT_EQ(profile.SetValue(-0.000004f, "d"), S_OK);
    EXPECT_EQ(profile.SetValue(999999999.0f, "e"), S_OK);   /* the float is 1e9 */
    EXPECT_EQ(profile.SetValue(-99999992.0f, "f"), S_OK);   /* 15 characters: still fixed */
    EXPECT_EQ(profile.SetValue(-100000000.0f, "g"), S_OK);
    EXPECT_EQ(profile.SetValue(-3.40282347e38f, "h"), S_OK);
    EXPECT_EQ(profile.SetValue("text", "i"), S_OK);
    EXPECT_EQ(profile.SetValue(static_cast<const char*>(nullptr), "j"), S_OK);

    std::vector<std::string> texts;
    for (const Call& c : g.writesSeen) {
        EXPECT_EQ(c.section, "Run");
        EXPECT_EQ(c.file, "C:\\Bench\\x.ini");
        texts.push_back(c.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{ "   1.50000", "-2", "-2147483648", "  -0.00000", "1e+09",
                                                "-99999992.00000", "-100000000", "-3.40282347e+38", "text", "" }));
    ASSERT_EQ(g.writesSeen.size(), 10u);
    EXPECT_TRUE(g.writesSeen[9].nullText) << "a null value must reach the writer as null";
}

TEST_F(Profile, AFailedWriteIsEFail)
{
    CProfile profile("x.ini");
    profile.Open("Run");
    g.writes = FALSE;
    EXPECT_EQ(profile.SetValue(1, "k"), E_FAIL);
    EXPECT_EQ(profile.SetValue(1.0f, "k"), E_FAIL);
    EXPECT_EQ(profile.SetValue("v", "k"), E_FAIL);
}

TEST_F(Profile, NamesThatAddressNoEntryReachNoPlatformFunction)
{
    /* A null key would list the section's keys or remove the whole
     * section; an empty key or section makes some systems' INI functions
     * fault. Reads give the defaults, writes refuse. */
    const struct {
        const char* section;
        const char* key;
        HRESULT read;
    } cases[] = {
        { "Run", nullptr, E_INVALIDARG },
        { "Run", "", S_OK },
        { "", "k", S_OK },
        { "", "", S_OK },
        { "", nullptr, E_INVALIDARG },
    };
    g.stored = "77";
    for (const auto& c : cases) {
        const std::string name = std::string("[") + c.section + "] " + (c.key ? "'" + std::string(c.key) + "'" : "null");
        CProfile profile("x.ini");
        profile.Open(c.section);
        EXPECT_EQ(profile.SetValue(1, c.key), E_INVALIDARG) << name;
        EXPECT_EQ(profile.SetValue(1.0f, c.key), E_INVALIDARG) << name;
        EXPECT_EQ(profile.SetValue("v", c.key), E_INVALIDARG) << name;
        EXPECT_EQ(profile.SetValue(static_cast<const char*>(nullptr), c.key), E_INVALIDARG) << name;
        int i = 5;
        float f = 5;
        char text[8] = "old";
        unsigned long size = sizeof text;
        EXPECT_EQ(profile.QueryValue(i, c.key), c.read) << name;
        EXPECT_EQ(profile.QueryValue(f, c.key), c.read) << name;
        EXPECT_EQ(profile.QueryValue(text, c.key, &size), c.read) << name;
        EXPECT_EQ(i, 0) << name;
        EXPECT_EQ(f, 0.0f) << name;
        EXPECT_STREQ(text, "") << name;
        EXPECT_EQ(size, 0u) << name;
        EXPECT_TRUE(g.writesSeen.empty()) << name;
        EXPECT_TRUE(g.reads.empty()) << name;
    }
}

TEST_F(Profile, ReadsHandTheDefaultsAndCapacities)
{
    CProfile profile("x.ini");
    profile.Open("Run");
    int i = 1;
    float f = 1;
    char text[40];
    unsigned long size = sizeof text;
    profile.QueryValue(i, "a");
    profile.QueryValue(f, "b");
    profile.QueryValue(text, "c", &size);
    ASSERT_EQ(g.reads.size(), 3u);
    EXPECT_EQ(g.reads[0].text, "0");
    EXPECT_EQ(g.reads[0].capacity, 16u);
    EXPECT_EQ(g.reads[1].text, "0");
    EXPECT_EQ(g.reads[1].capacity, 16u);
    EXPECT_EQ(g.reads[2].text, "");
    EXPECT_EQ(g.reads[2].capacity, 40u);
    for (const Call& c : g.reads) {
        EXPECT_EQ(c.section, "Run");
        EXPECT_EQ(c.file, "C:\\Bench\\x.ini");
        /* Some systems' readers trim the default in place. */
        EXPECT_TRUE(c.writableDefault) << "default '" << c.text << "' in read-only memory";
    }

    /* A number longer than 15 characters is converted from its first 15. */
    g.stored = "1234567890123456789";
    profile.QueryValue(f, "b");
    EXPECT_EQ(f, 123456789012345.0f);
}

TEST_F(Profile, ATextReadWithoutRoomStoresNothing)
{
    CProfile profile("x.ini");
    profile.Open("Run");
    g.stored = "abc";
    char text[2] = { 'x', 'y' };
    unsigned long size = 0;
    EXPECT_EQ(profile.QueryValue(text, "k", &size), S_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(profile.QueryValue(nullptr, "k", &size), E_POINTER);
    EXPECT_EQ(profile.QueryValue(text, "k", nullptr), E_POINTER);
    EXPECT_TRUE(g.reads.empty());
}

}  // namespace
