/* crash_report.cpp -- the switch of crash reports, the reporter's thread,
 * and the hand-over from the thread that ends.
 *
 * The thread whose exception no handler took runs the process's filter
 * (faults/se_translator.h calls the watch here), perhaps with almost no
 * stack left and a broken heap: it only hands the reporter its exception
 * and waits. The reporter draws on a reserve of memory set aside when
 * reports were turned on (base/allocation.h), and names frames with a
 * lookup of its own that reads only the modules' own debug information.
 *
 * A fault inside the reporter comes to the same filter on the reporter's
 * thread: the watch then resumes the reporter with fresh frames at the
 * next part of the report, and the exception being reported keeps its
 * course. */
#include <exception>
#include <initializer_list>
#include <new>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tools/runtime.h"
#include "base/allocation.h"
#include "base/hresult.h"
#include "base/last_error.h"
#include "crashreport/crash_platform.h"
#include "crashreport/crash_report.h"
#include "crashreport/minidump.h"
#include "crashreport/report_folder.h"
#include "crashreport/report_parts.h"
#include "faults/se_translator.h"
#include "frames/frame_walk.h"
#include "frames/processor.h"

namespace tk {

namespace {

/* How long the thread that ended waits for its report. */
const DWORD kReportWait = 60 * 1000;
/* The reserve: address space taken when reports go on, and the part of it
 * committed then. Naming frames reads a module's debug information into
 * about 0.4 of its size; a program's own and the C++ runtime's fit. */
const size_t kReserveBytes = 48u << 20;
const size_t kReserveCommitted = 1u << 20;
const size_t kReporterStack = 1u << 20;
/* Other threads whose stacks a report names. */
const int kMostOtherThreads = 64;

struct Switch {
    SRWLOCK lock;
    bool on;
    HANDLE thread;
    DWORD threadId;
    HANDLE go, done, stop;
    MiniDumpWriter minidump;
    std::terminate_handler previousTerminate;
    char folder[MAX_PATH];    /* with its trailing backslash */
    char program[MAX_PATH];   /* the program's path */
    char title[MAX_PATH];     /* its file name without the extension */
    volatile LONG reports;    /* made so far, for the files' numbers */
};

Switch g_switch = { SRWLOCK_INIT, false, nullptr, 0, nullptr, nullptr, nullptr, {}, nullptr, {}, {}, {}, 0 };

/* One report at a time; the job and the report's state, the reporter's. */
volatile LONG g_claimed;
CrashJob g_job;

/* The C++ exception's text and stack, taken on its own thread. */
char g_cxxText[1024];
char g_cxxStack[16 * 1024];

struct ReportState {
    ReportOut text;
    char dumpPath[MAX_PATH];
    ThreadFrames fault;
    ThreadFrames* others;
    int otherCount;
    CSymbolLookup* lookup;
};

ReportState* g_report;
alignas(ReportState) unsigned char g_reportStorage[sizeof(ReportState)];

/* The part of the report that runs, for the watch on the reporter's own
 * faults: where its loop's frames start anew, and which part is next. */
volatile LONG g_inPart;
DWORD_PTR g_freshStack;
#if defined(__i386__)
void* g_handlerChain;
#endif
int g_nextPart;
DWORD g_partCode;
DWORD_PTR g_partAddress;

void Raw()
{
    ReportState& r = *g_report;
    WriteHeader(r.text, g_job, g_switch.program);
    WriteException(r.text, g_job);
    RecordFaultFrames(g_job, &r.fault);
    WriteAddresses(r.text, r.fault);
    WriteModules(r.text);
}

void Text() { WriteExceptionText(g_report->text, g_job); }

/* The lookup is made in the reserve, and never starts the debug-help
 * library, whose start allocates from the process's heap. Null when the
 * reserve is used up. */
CSymbolLookup* Lookup()
{
    ReportState& r = *g_report;
    if (!r.lookup) {
        void* memory = Allocate(sizeof(CSymbolLookup));
        if (!memory)
            return nullptr;
        r.lookup = new (memory) CSymbolLookup();
        r.lookup->UseModulesOnly();
    }
    return r.lookup;
}

void NamedStack()
{
    ReportState& r = *g_report;
    if (!g_job.pointers) {
        r.text.Print("\nCall stack:\n%s", g_job.cxxStack ? g_job.cxxStack : "");
        r.text.Flush();
        return;
    }
    CSymbolLookup* lookup = Lookup();
    r.text.Print("\nCall stack of thread %lu:\n", g_job.thread);
    if (lookup)
        WriteNamedFrames(r.text, *lookup, r.fault, true);
}

void OtherThreads()
{
    ReportState& r = *g_report;
    r.others = static_cast<ThreadFrames*>(Allocate(kMostOtherThreads * sizeof(ThreadFrames)));
    CSymbolLookup* lookup = Lookup();
    if (!r.others || !lookup)
        return;
    /* All walked first, and named only when all run again: a thread
     * suspended while holding a lock that naming takes would stop the
     * report. */
    r.otherCount = RecordOtherThreads(g_job.thread, g_switch.threadId, r.others, kMostOtherThreads);
    for (int i = 0; i < r.otherCount; ++i) {
        r.text.Print("\nCall stack of thread %lu:\n", r.others[i].thread);
        WriteNamedFrames(r.text, *lookup, r.others[i], false);
    }
}

void Minidump()
{
    if (g_job.pointers && g_report->dumpPath[0])
        g_switch.minidump.Write(g_report->dumpPath, g_job.thread, g_job.pointers);
}

/* Closes what the lookup opened; its memory goes with the reserve's. */
void ReleaseLookup()
{
    ReportState& r = *g_report;
    if (r.lookup)
        r.lookup->~CSymbolLookup();
    r.lookup = nullptr;
}

typedef void (*Part)();
const Part kParts[] = { Raw, Text, NamedStack, OtherThreads, Minidump, ReleaseLookup };
const int kPartCount = sizeof kParts / sizeof kParts[0];

void StartReport()
{
    g_report = new (g_reportStorage) ReportState();
    ReportState& r = *g_report;
    const long n = InterlockedIncrement(&g_switch.reports);
    char path[MAX_PATH];
    const DWORD pid = GetCurrentProcessId();
    if (snprintf(path, sizeof path, "%s%s.%lu.%ld.txt", g_switch.folder, g_switch.title, pid, n) < MAX_PATH)
        r.text.Create(path);
    if (g_switch.minidump.Available() &&
        snprintf(r.dumpPath, sizeof r.dumpPath, "%s%s.%lu.%ld.dmp", g_switch.folder, g_switch.title, pid, n) >=
            MAX_PATH)
        r.dumpPath[0] = '\0';
    g_nextPart = 0;
}

void RunParts()
{
    while (g_nextPart < kPartCount) {
        const Part part = kParts[g_nextPart++];
        InterlockedExchange(&g_inPart, 1);
        part();
        InterlockedExchange(&g_inPart, 0);
    }
}

void FinishReport()
{
    ReportState& r = *g_report;
    r.text.Close();
    r.~ReportState();
    g_report = nullptr;
    EmptyReserve();
    SetEvent(g_switch.done);
}

[[noreturn]] void ReporterLoop()
{
    for (;;) {
        HANDLE waits[2] = { g_switch.stop, g_switch.go };
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            break;
        StartReport();
        RunParts();
        FinishReport();
    }
    DrawOnReserve(0);
    ExitThread(0);
}

/* Where the watch resumes the reporter after a fault inside a part: on
 * fresh frames, at the next part. */
[[noreturn]] void ResumeAfterFault()
{
#if defined(__i386__)
    /* The chain of handler records still starts in the frames left behind. */
    ThreadBlock()->ExceptionList = static_cast<EXCEPTION_REGISTRATION_RECORD*>(g_handlerChain);
#endif
    if (g_report) {
        g_report->text.Print("\n(This part of the report stopped at exception 0x%08lX at 0x%0*llx.)\n", g_partCode,
                             static_cast<int>(2 * sizeof(void*)), static_cast<unsigned long long>(g_partAddress));
        g_report->text.Flush();
        RunParts();
        FinishReport();
    }
    ReporterLoop();
}

DWORD WINAPI ReporterMain(void*)
{
    /* Fresh frames start well below this one's. */
    volatile char here = 0;
    g_freshStack = (reinterpret_cast<DWORD_PTR>(&here) - 4096) & ~static_cast<DWORD_PTR>(15);
#if defined(__i386__)
    g_handlerChain = ThreadBlock()->ExceptionList;
#endif
    DrawOnReserve(GetCurrentThreadId());
    ReporterLoop();
}

/* A fault inside a part of the report: resumed at ResumeAfterFault, as if
 * called with a return address of 0. */
bool ReporterFaulted(EXCEPTION_POINTERS* p)
{
    if (!InterlockedExchange(&g_inPart, 0))
        return false;
    g_partCode = p->ExceptionRecord->ExceptionCode;
    g_partAddress = reinterpret_cast<DWORD_PTR>(p->ExceptionRecord->ExceptionAddress);
    const DWORD_PTR top = g_freshStack - sizeof(DWORD_PTR);
    *reinterpret_cast<DWORD_PTR*>(top) = 0;
    arch::SetStackPointer(*p->ContextRecord, top);
    arch::ResumeAt(*p->ContextRecord, ResumeAfterFault);
    return true;
}

/* Takes the one report's turn: false when another report held it for
 * longer than a report may take. */
bool Claim()
{
    const DWORD start = GetTickCount();
    while (InterlockedCompareExchange(&g_claimed, 1, 0)) {
        if (GetTickCount() - start > kReportWait)
            return false;
        Sleep(10);
    }
    return true;
}

void Unclaim() { InterlockedExchange(&g_claimed, 0); }

/* Hands the job to the reporter and waits for its report, or its end. A
 * second thread that ends meanwhile waits its turn. */
void HandOver(const CrashJob& job)
{
    if (!Claim())
        return;
    if (!g_switch.on) {
        Unclaim();
        return;
    }
    g_job = job;
    ResetEvent(g_switch.done);
    SetEvent(g_switch.go);
    HANDLE waits[2] = { g_switch.done, g_switch.thread };
    WaitForMultipleObjects(2, waits, FALSE, kReportWait);
    Unclaim();
}

void ThreadStack(CrashJob* job)
{
    const NT_TIB* tib = ThreadBlock();
    job->thread = GetCurrentThreadId();
    job->stackLow = reinterpret_cast<DWORD_PTR>(tib->StackLimit);
    job->stackHigh = reinterpret_cast<DWORD_PTR>(tib->StackBase);
}

/* Exceptions that end a process when no handler takes them: warnings and
 * errors. GCC's own, of success severity, come here on their way to
 * std::terminate, where the terminate hook reports a CException*. */
bool Watch(EXCEPTION_POINTERS* p)
{
    if (GetCurrentThreadId() == g_switch.threadId)
        return ReporterFaulted(p);
    if (!g_switch.on || !(p->ExceptionRecord->ExceptionCode & 0x80000000))
        return false;
    const LastErrorKeeper keep;
    CrashJob job = {};
    job.pointers = p;
    ThreadStack(&job);
    HandOver(job);
    return false;
}

void OnTerminate()
{
    const std::terminate_handler previous = g_switch.previousTerminate;
    if (g_switch.on) {
        try {
            throw;
        } catch (CException* e) {
            CrashJob job = {};
            ThreadStack(&job);
            job.cxxCode = *e;
            e->GetErrorMessage(g_cxxText, sizeof g_cxxText);
            e->GetCallStack(g_cxxStack, sizeof g_cxxStack);
            job.cxxText = g_cxxText;
            job.cxxStack = g_cxxStack;
            HandOver(job);
        } catch (...) {
        }
    }
    if (previous)
        previous();
    abort();
}

void TurnOff()
{
    if (!g_switch.on)
        return;
    g_switch.on = false;
    if (std::get_terminate() == OnTerminate)
        std::set_terminate(g_switch.previousTerminate);
    /* A report under way ends first. */
    Claim();
    /* The watch stays with the filter: it passes everything on while off,
     * and a filter set over ours may still call it. */
    SetEvent(g_switch.stop);
    WaitForSingleObject(g_switch.thread, INFINITE);
    CloseHandle(g_switch.thread);
    CloseHandle(g_switch.go);
    CloseHandle(g_switch.done);
    CloseHandle(g_switch.stop);
    g_switch.thread = g_switch.go = g_switch.done = g_switch.stop = nullptr;
    g_switch.threadId = 0;
    g_switch.minidump.Unload();
    FreeReserve();
    Unclaim();
}

/* Closes the events and frees the reserve of a reporter that did not
 * start. */
void UndoSetUp()
{
    const LastErrorKeeper keep;
    for (HANDLE* event : { &g_switch.go, &g_switch.done, &g_switch.stop }) {
        if (*event)
            CloseHandle(*event);
        *event = nullptr;
    }
    FreeReserve();
}

HRESULT TurnOn()
{
    /* The watch passes everything on until the switch is on. */
    if (!WatchUnhandled(Watch) || !SetAsideReserve(kReserveBytes, kReserveCommitted))
        return FailureFromLastError();
    g_switch.go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_switch.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_switch.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HMODULE self = nullptr;
    /* The library stays loaded for the rest of the process: its thread runs
     * its code, and a host may free the library while reports are on. The
     * thread could drop a reference of its own only as it ends, and when
     * that was the last, the library would be unmapped under the call that
     * turned reports off and waits for that end. */
    if (!g_switch.go || !g_switch.done || !g_switch.stop ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&ReporterMain), &self)) {
        const HRESULT hr = FailureFromLastError();
        UndoSetUp();
        return hr;
    }
    g_switch.thread = CreateThread(nullptr, kReporterStack, ReporterMain, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                   &g_switch.threadId);
    if (!g_switch.thread) {
        const HRESULT hr = FailureFromLastError();
        UndoSetUp();
        return hr;
    }
    g_switch.minidump.Load();
    g_switch.previousTerminate = std::set_terminate(OnTerminate);
    g_switch.on = true;
    return S_OK;
}

class SwitchLock {
public:
    SwitchLock() { AcquireSRWLockExclusive(&g_switch.lock); }
    ~SwitchLock() { ReleaseSRWLockExclusive(&g_switch.lock); }
    SwitchLock(const SwitchLock&) = delete;
    SwitchLock& operator=(const SwitchLock&) = delete;
};

}  // namespace

void EndCrashReports()
{
    const SwitchLock lock;
    TurnOff();
}

}  // namespace tk

long TkSetCrashReport(const char* folder)
{
    using namespace tk;
    const SwitchLock lock;
    if (!folder) {
        TurnOff();
        return S_OK;
    }
    char chosen[MAX_PATH];
    const HRESULT hr = ChooseReportFolder(folder, chosen, sizeof chosen);
    if (FAILED(hr))
        return hr;
    /* The reporter reads the folder only for a report, which holds the
     * claim. */
    if (!Claim())
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    lstrcpynA(g_switch.folder, chosen, sizeof g_switch.folder);
    Unclaim();
    if (!g_switch.on) {
        if (!ProgramNames(g_switch.program, sizeof g_switch.program, g_switch.title, sizeof g_switch.title))
            return FailureFromLastError();
        return TurnOn();
    }
    return S_OK;
}
