/* An example host of tools.dll: reads its settings from an INI file beside
 * it, throws and catches each kind of exception, follows a processor fault
 * to its report box, times the busy delay with the clock, and charts that
 * timing live in a window whose picture it saves.
 *
 *   tools_example.exe [--interactive]
 *
 * With --interactive the report box waits for the user's answer; without
 * it the program answers the box itself and runs unattended. */
#include <stdio.h>
#include <string.h>

#include <string>

#include <windows.h>

#include "tools/runtime.h"
#include "fault_report.h"
#include "graph_demo.h"
#include "settings.h"

namespace {

void Show(const char* what, CException* e)
{
    printf("  %-26s code 0x%08lX  static %-3s  location %s(%d)\n", what, static_cast<unsigned long>(*e),
           e->m_bStatic ? "yes" : "no", e->m_pszFile ? e->m_pszFile : "none", e->m_nLine);
}

template <typename F>
void Catch(const char* what, F throwIt)
{
    try {
        throwIt();
    } catch (CException* e) {
        Show(what, e);
        e->Delete();
    }
}

void Exceptions()
{
    printf("\nExceptions thrown by pointer and caught as CException*:\n");
    Catch("ThrowException(E_FAIL)", [] { ThrowException(static_cast<long>(E_FAIL), __FILE__, __LINE__); });
    Catch("ThrowException(int 5)", [] { ThrowException(5); });
    Catch("ThrowMemoryException", [] { ThrowMemoryException(__FILE__, __LINE__); });
    Catch("ThrowResourceException", [] { ThrowResourceException(); });
    Catch("ThrowNotImplemented", [] { ThrowNotImplementedException(); });
}

void Timing(const DemoSettings& settings)
{
    printf("\nOne round of TkDelay (%d x 200,000 CPUID instructions), timed with TkGetTickCount:\n",
           settings.delaysPerRound);
    unsigned long start = TkGetTickCount();
    for (int i = 0; i < settings.delaysPerRound; ++i)
        TkDelay();
    printf("  %lu ms\n", TkGetTickCount() - start);
}

std::string BesideProgram(const char* name)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n < MAX_PATH ? n : 0);
    return s.substr(0, s.find_last_of('\\') + 1) + name;
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    bool interactive = argc > 1 && !strcmp(argv[1], "--interactive");
    TkInitialize();

    DemoSettings settings = LoadDemoSettings("tools_example.ini");
    Exceptions();
    ShowFaultReport(interactive);
    Timing(settings);

    GraphDemoSettings chart;
    chart.rounds = settings.rounds;
    chart.delaysPerRound = settings.delaysPerRound;
    for (int i = 0; i < 4; ++i)
        chart.lineColours[i] = settings.lineColours[i];
    chart.gridColour = settings.gridColour;
    chart.backgroundColour = settings.backgroundColour;
    printf("\nThe live graph:\n");
    bool drawn = RunGraphDemo(chart, BesideProgram("tools_example.bmp").c_str());

    TkTerminate();
    return drawn ? 0 : 1;
}
