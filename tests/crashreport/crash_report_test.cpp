/* Crash reports: the switch's results, and what a child that ends in each
 * way leaves behind. */
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/runtime.h"
#include "support/child_process.h"
#include "support/paths.h"
#include "crash_faults.h"

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/* A new empty folder under the temporary folder, without its backslash. */
std::string NewFolder(const std::string& name)
{
    const std::string folder = tktest::TempDirectory() + "crash_report_test." + name;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileA((folder + "\\" + found.cFileName).c_str());
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

/* The files in folder whose names end in suffix. */
std::vector<std::string> FilesEndingIn(const std::string& folder, const std::string& suffix)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*" + suffix).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do
        if (std::string(found.cFileName) != "thread.txt" && std::string(found.cFileName) != "filter.txt")
            files.push_back(folder + "\\" + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

/* Whether the test can read the children's source where it was built: the
 * reports then show its lines too. */
bool SourcesHere()
{
    return GetFileAttributesA((std::string(CRASH_CHILD_SOURCES) + crashtest::kFile).c_str()) !=
        INVALID_FILE_ATTRIBUTES;
}

uint32_t Word(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    if (at + 4 <= bytes.size())
        memcpy(&value, bytes.data() + at, 4);
    return value;
}

/* The thread of the minidump's exception, and whether its thread list
 * holds it; 0 when the file is no minidump or has no exception. */
DWORD DumpedFaultThread(const std::string& dump, bool* listed)
{
    *listed = false;
    if (dump.compare(0, 4, "MDMP") != 0)
        return 0;
    const uint32_t streams = Word(dump, 8), directory = Word(dump, 12);
    DWORD thread = 0;
    uint32_t threadList = 0;
    for (uint32_t i = 0; i < streams && i < 64; ++i) {
        const size_t entry = directory + 12 * i;
        if (Word(dump, entry) == 6)   /* the exception stream */
            thread = Word(dump, Word(dump, entry + 8));
        if (Word(dump, entry) == 3)   /* the thread list */
            threadList = Word(dump, entry + 8);
    }
    for (uint32_t i = 0; threadList && i < Word(dump, threadList) && i < 4096; ++i)
        *listed |= thread && Word(dump, threadList + 4 + 48 * i) == thread;
    return thread;
}

struct EndRow {
    const char* mode;
    const char* child;
    DWORD exitCode;
    const char* reportCode;   /* the line the report gives the exception; null: no report */
    const char* function;
    int line;
    bool minidump;
    bool hostFilter;          /* the child's own filter, set before reports went on, is called */
    const char* other;        /* what another thread's named stack shows; null: not checked */
};

const EndRow kEnds[] = {
    { "thread", "crash_child.exe", 0xC0000005, "Exception: 0xC0000005", "WriteThroughNull", crashtest::kNullWriteLine,
      true, true, " main at " },
    { "translated", "crash_child.exe", 0xC0000005, "Exception: 0xC0000005", "WriteThroughNull",
      crashtest::kNullWriteLine, true, true, nullptr },
    { "fiber", "crash_child.exe", 0xC0000005, "Exception: 0xC0000005", "WriteThroughNull", crashtest::kNullWriteLine,
      true, true, nullptr },
    { "overflow", "crash_child.exe", 0xC00000FD, "Exception: 0xC00000FD", "Recurse", crashtest::kRecurseLine, true,
      false, nullptr },
    { "heap", "crash_child.exe", 0xC0000005, "Exception: 0xC0000005", "WriteThroughNull", crashtest::kNullWriteLine,
      true, true, nullptr },
    { "uncaught", "crash_child.exe", 3, "C++ exception not caught: CException*, code 0x80070057", "ThrowUncaught",
      crashtest::kThrowLine, false, false, nullptr },
    { "seam", "crash_seam_child.exe", 0xC0000094, "Exception: 0xC0000094", "DivideByZero", crashtest::kDivideLine,
      true, false, nullptr },
    { "windows-frames", "crash_seam_child.exe", 0xC0000094, "Exception: 0xC0000094", "DivideByZero",
      crashtest::kDivideLine, true, false, "WaitForever" },
    { "off", "crash_child.exe", 0xC0000005, nullptr, nullptr, 0, false, true, nullptr },
};

/* Whether the named stack of a thread other than faulting shows what. */
bool OtherThreadShows(const std::string& report, DWORD faulting, const std::string& what)
{
    const std::string header = "Call stack of thread ";
    for (size_t at = report.find(header); at != std::string::npos;) {
        const size_t next = report.find(header, at + header.size());
        const std::string section = report.substr(at, next == std::string::npos ? std::string::npos : next - at);
        if (strtoul(section.c_str() + header.size(), nullptr, 10) != faulting && section.find(what) != std::string::npos)
            return true;
        at = next;
    }
    return false;
}

TEST(CrashReport, EachWayAProcessEndsLeavesItsReportAndKeepsItsExitCode)
{
    for (const EndRow& row : kEnds) {
        SCOPED_TRACE(row.mode);
        const std::string folder = NewFolder(row.mode);
        const tktest::ChildResult result = tktest::RunChild(row.child, std::string(row.mode) + " " + folder, 120000);
        EXPECT_TRUE(result.finished);
        EXPECT_EQ(row.exitCode, result.exitCode);
        EXPECT_EQ(row.hostFilter, GetFileAttributesA((folder + "\\filter.txt").c_str()) != INVALID_FILE_ATTRIBUTES);
        const std::vector<std::string> texts = FilesEndingIn(folder, ".txt");
        const std::vector<std::string> dumps = FilesEndingIn(folder, ".dmp");
        if (!row.reportCode) {
            EXPECT_TRUE(texts.empty());
            EXPECT_TRUE(dumps.empty());
            continue;
        }
        if (texts.size() != 1u) {
            ADD_FAILURE() << texts.size() << " text reports";
            continue;
        }
        const std::string report = ReadAll(texts[0]);
        const DWORD thread = strtoul(ReadAll(folder + "\\thread.txt").c_str(), nullptr, 10);
        EXPECT_NE(std::string::npos, report.find(row.reportCode)) << report;
        EXPECT_NE(std::string::npos, report.find("Thread: " + std::to_string(thread) + "\n")) << report;
        /* The faulting function with its file and line, in the named stack. */
        const std::string where = std::string(crashtest::kFile) + ":" + std::to_string(row.line);
        bool named = false;
        std::istringstream lines(report);
        for (std::string line; std::getline(lines, line);)
            named |= line.find(row.function) != std::string::npos && line.find(where) != std::string::npos;
        EXPECT_TRUE(named) << where << "\n" << report;
        if (row.minidump) {
            EXPECT_EQ(1u, dumps.size());
            bool listed = false;
            EXPECT_EQ(thread, dumps.empty() ? 0 : DumpedFaultThread(ReadAll(dumps[0]), &listed));
            EXPECT_TRUE(listed);
            /* The raw part came first and was complete. */
            EXPECT_LT(report.find("Modules:"), report.find("Call stack of thread"));
            /* A fault's named lines are followed by their source, the
             * named one marked, where the source can be read. */
            bool marked = false, excerpts = false;
            std::istringstream excerpt(report);
            for (std::string line; std::getline(excerpt, line);) {
                const bool mark = line.compare(0, 7, "      >") == 0;
                excerpts |= mark;
                marked |= mark && atoi(line.c_str() + 7) == row.line;
            }
            EXPECT_EQ(SourcesHere(), marked);
            EXPECT_EQ(SourcesHere(), excerpts);
        }
        if (row.other) {
            EXPECT_TRUE(OtherThreadShows(report, thread, row.other)) << report;
        }
        if (!strcmp(row.mode, "seam")) {
            EXPECT_NE(std::string::npos, report.find("This part of the report stopped at exception 0xC0000005"));
        }

    }
}

/* The system calls no unhandled-exception filter while a debugger is
 * attached: the debugger gets the fault, and no report is made. */
TEST(CrashReport, ADebuggerGetsTheFaultAndNoReportIsMade)
{
    const std::string folder = NewFolder("debugged");
    const tktest::ChildResult result = tktest::RunChildUnderADebugger("crash_child.exe", "translated " + folder, 60000);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(0xC0000005u, result.exitCode);
    EXPECT_TRUE(FilesEndingIn(folder, ".txt").empty());
    EXPECT_TRUE(FilesEndingIn(folder, ".dmp").empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\filter.txt").c_str()));
}

TEST(CrashReport, SwitchTakesAFolderMakesItAndRefusesAFile)
{
    const std::string base = NewFolder("switch");
    const std::string file = base + "\\a-file";
    std::ofstream(file) << "x";
    struct Row {
        std::string folder;
        long result;
        bool made;
    } rows[] = {
        { base + "\\made\\deeper", S_OK, true },
        { "", S_OK, false },
        { file, E_INVALIDARG, false },
        { file + "\\", E_INVALIDARG, false },
        { file + "\\below", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.folder);
        const long hr = TkSetCrashReport(row.folder.c_str());
        if (row.result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
            /* Which error the system gives for a folder under a file
             * varies; a system error it is. */
            EXPECT_TRUE(FAILED(hr) && HRESULT_FACILITY(hr) == FACILITY_WIN32) << std::hex << hr;
        } else {
            EXPECT_EQ(row.result, hr);
        }
        if (row.made) {
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(row.folder.c_str()));
        }
    }
    EXPECT_EQ(S_OK, TkSetCrashReport(nullptr));
    EXPECT_EQ(S_OK, TkSetCrashReport(nullptr));
}

}  // namespace
