/* Crash reports: what turning them on costs once, that caught faults pay
 * nothing for them, and how long a fault that nobody takes waits for its
 * two files. The last runs in a child of this program, which starts ten
 * more modules' worth of libraries first and times from the fault to the
 * call of the filter that was in place before reports went on: the
 * reports are written by then. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "tools/runtime.h"
#include "bench_table.h"
#include "bench_timer.h"

namespace {

using tkbench::Cell;
using tkbench::KeepBest;
using tkbench::Now;

const int kSwitches = 20;
const int kFaults = 100000;
const int kPasses = 5;

volatile int g_zero = 0;
volatile long g_sink;

__attribute__((noipa)) int Divide(int a) { return a / g_zero; }

double FaultLoad()
{
    double best = 0;
    for (int pass = 0; pass < kPasses; ++pass)
        KeepBest(best, [] {
            for (int i = 0; i < kFaults / kPasses; ++i) {
                try {
                    g_sink = Divide(i);
                } catch (CRunTimeException* e) {
                    e->Delete();
                }
            }
        });
    return best / (kFaults / kPasses);
}

/* The child's side: the time of its fault, read again by the filter that
 * the reports pass the fault on to. */
double g_faultAt;

LONG WINAPI Written(EXCEPTION_POINTERS*)
{
    const double seconds = Now() - g_faultAt;
    int modules = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region); at = static_cast<const char*>(region.BaseAddress) + region.RegionSize)
        modules += region.Type == MEM_IMAGE && region.AllocationBase == region.BaseAddress;
    printf("%.1f %d\n", seconds * 1e3, modules);
    fflush(stdout);
    return EXCEPTION_CONTINUE_SEARCH;
}

int Child(const char* folder)
{
    const char* libraries[] = { "advapi32.dll", "comctl32.dll", "comdlg32.dll", "ole32.dll", "oleaut32.dll",
                                "shell32.dll", "shlwapi.dll", "version.dll", "winmm.dll", "ws2_32.dll" };
    for (const char* library : libraries)
        LoadLibraryA(library);
    SetUnhandledExceptionFilter(Written);
    if (TkSetCrashReport(folder) != S_OK)
        return 1;
    g_faultAt = Now();
    return Divide(1);
}

/* Runs this program as the child; its line, or an empty text. */
std::string RunChild(const std::string& folder)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = std::string("\"") + self + "\" crash \"" + folder + "\"";
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0))
        return "";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(write);
    char line[128] = {};
    DWORD got = 0;
    if (started) {
        ReadFile(read, line, sizeof line - 1, &got, nullptr);
        WaitForSingleObject(pi.hProcess, 60000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(read);
    return std::string(line, got);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && !strcmp(argv[1], "crash"))
        return Child(argv[2]);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string folder = std::string(temp) + "tools-crash-bench";
    const std::string target = tkbench::Target();

    TkInitialize();
    const double off = FaultLoad();
    double on = 0, offAgain = 0;
    for (int i = 0; i < kSwitches; ++i) {
        KeepBest(on, [&] { g_sink = TkSetCrashReport(folder.c_str()); });
        KeepBest(offAgain, [] { g_sink = TkSetCrashReport(nullptr); });
    }
    TkSetCrashReport(folder.c_str());
    const double withReports = FaultLoad();
    TkSetCrashReport(nullptr);
    TkTerminate();

    tkbench::Row("`TkSetCrashReport(folder)`: the reporter's thread and reserve set up (" + target + ")",
                 Cell("%.0f µs", on * 1e6), Cell("turning them off again, %.0f µs", offAgain * 1e6));
    const double ratio = withReports / off;
    bool met = tkbench::Row("A fault caught, 100,000 in all, with reports on (" + target + ")",
                            Cell("%.2f µs", withReports * 1e6), Cell("reports off, %.2f µs", off * 1e6),
                            Cell("%.2fx the time", ratio), "within 10 %", ratio <= 1.10);
    double ms = 0;
    int modules = 0;
    if (sscanf(RunChild(folder).c_str(), "%lf %d", &ms, &modules) == 2)
        tkbench::Row(Cell("A fault that nobody takes, to both files written, %d modules loaded (", modules) + target +
                         ")",
                     Cell("%.0f ms", ms));
    else
        met = tkbench::Row("A fault that nobody takes, to both files written (" + target + ")", "no figure", "—",
                           "—", "a figure", false);
    return met ? 0 : 1;
}
