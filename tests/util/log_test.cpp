/* TkLog through tools.dll, each test in a current directory of its own. */
#include <gtest/gtest.h>

#include <stdio.h>

#include <windows.h>

#include <string>

#include "tools/util.h"
#include "support/paths.h"

namespace {

class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryA(MAX_PATH, previous_);
        dir_ = tktest::TempDirectory() + "log-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
        ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(previous_);
        const std::string log = dir_ + "\\vq_tools.log";
        DeleteFileA(log.c_str());
        RemoveDirectoryA(log.c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    /* The log file's bytes; "missing" when there is none. */
    static std::string Contents()
    {
        FILE* f = fopen("vq_tools.log", "rb");
        if (!f)
            return "missing";
        std::string bytes;
        char chunk[256];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.append(chunk, n);
        fclose(f);
        return bytes;
    }

    char previous_[MAX_PATH];
    std::string dir_;
};

TEST_F(Log, CreatesTheFileAndAppendsEachText)
{
    EXPECT_EQ(Contents(), "missing");
    EXPECT_EQ(TkLog("%d items\n", 3), 8u) << "the line feed counts once";
    EXPECT_EQ(Contents(), "3 items\r\n");
    EXPECT_EQ(TkLog("%s", "no line end"), 11u);
    EXPECT_EQ(TkLog("\n"), 1u);
    EXPECT_EQ(Contents(), "3 items\r\nno line end\r\n");
}

TEST_F(Log, ALongTextLosesItsEnd)
{
    const std::string x511(511, 'x');
    EXPECT_EQ(TkLog("%s", x511.c_str()), 511u);
    EXPECT_EQ(TkLog("%s!", x511.c_str()), 512u);
    EXPECT_EQ(TkLog("%s%s", x511.c_str(), x511.c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(Contents(), x511 + x511 + x511);
}

TEST_F(Log, AFileThatCannotBeOpenedIsNoFailure)
{
    EXPECT_EQ(TkLog(nullptr), 0u);
    EXPECT_EQ(Contents(), "missing");

    /* Held open by another handle that shares nothing. */
    EXPECT_EQ(TkLog("kept\n"), 5u);
    HANDLE held = CreateFileA("vq_tools.log", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TkLog("%d items\n", 3), 8u);
    CloseHandle(held);
    EXPECT_EQ(Contents(), "kept\r\n");

    /* A directory where the file should be. */
    ASSERT_TRUE(DeleteFileA("vq_tools.log"));
    ASSERT_TRUE(CreateDirectoryA("vq_tools.log", nullptr));
    EXPECT_EQ(TkLog("%d items\n", 3), 8u);
    EXPECT_EQ(GetFileAttributesA("vq_tools.log") & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

}  // namespace
