/* se_translator.cpp -- per-thread translation of processor faults. */
#include <windows.h>

#include "arch.h"
#include "runtime/last_error.h"
#include "runtime/se_translator.h"

namespace {

/* What the filter leaves for the resumed thread: the fault's description
 * and where to pretend the call came from. One per thread that installed a
 * translator, reached through a TLS slot; the filter itself never
 * allocates. */
struct PendingFault {
    tk::SeTranslator translator;
    DWORD_PTR returnAddress;
    EXCEPTION_RECORD record;
    CONTEXT context;
};

DWORD g_slot = TLS_OUT_OF_INDEXES;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
/* Set while our filter is the process's filter. */
volatile LONG g_filterInstalled;

PendingFault* CurrentPending()
{
    if (g_slot == TLS_OUT_OF_INDEXES)
        return nullptr;
    /* TlsGetValue clears the last-error code on success; the faulting code
     * may be about to read it. */
    tk::LastErrorKeeper keep;
    return static_cast<PendingFault*>(TlsGetValue(g_slot));
}

/* A non-continuable exception cannot be resumed at the stub; it takes the
 * platform's default course. */
bool Translatable(const EXCEPTION_RECORD* record)
{
    return !(record->ExceptionFlags & EXCEPTION_NONCONTINUABLE);
}

}  // namespace

/* Entered from the target's stub (runtime/arch/<target>/fault_stub.cpp)
 * with the fake return address on the stack, so the unwinder sees a call
 * made by the faulting instruction. */
extern "C" __attribute__((used, noinline)) TK_STUB_TARGET_ALIGNMENT
void tk_RaiseTranslated()
{
    PendingFault* pending = CurrentPending();
    /* A copy on this stack: a fault inside the translator would overwrite
     * the pending block while the translator still reads it. */
    EXCEPTION_RECORD record = pending->record;
    CONTEXT context = pending->context;
    EXCEPTION_POINTERS pointers = { &record, &context };
    pending->translator(record.ExceptionCode, &pointers);
    RaiseException(record.ExceptionCode, EXCEPTION_NONCONTINUABLE,
                   record.NumberParameters, record.ExceptionInformation);
}

extern "C" __attribute__((used)) DWORD_PTR tk_PendingReturnAddress()
{
    return CurrentPending()->returnAddress;
}

extern "C" void tk_FaultStub();

namespace {

LONG WINAPI Filter(EXCEPTION_POINTERS* p)
{
    PendingFault* pending = CurrentPending();
    if (pending && pending->translator && p->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        /* No room is left for a throw, and the platform's own course differs:
         * Windows ends the process, Wine may end only the thread and leave the
         * host waiting on it for ever. End the process, with the fault's code,
         * the same way everywhere. */
        TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
    }
    if (pending && pending->translator && Translatable(p->ExceptionRecord)) {
        pending->record = *p->ExceptionRecord;
        pending->record.ExceptionRecord = nullptr;
        pending->context = *p->ContextRecord;
        pending->returnAddress = tk::arch::ProgramCounter(*p->ContextRecord) + 1;
        /* Resume at the stub on the faulting thread's own stack; the system's
         * copies of record and context are gone once it runs. */
        tk::arch::ResumeAt(*p->ContextRecord, tk_FaultStub);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return g_previous ? g_previous(p) : EXCEPTION_CONTINUE_SEARCH;
}

BOOL CALLBACK InstallFilter(INIT_ONCE*, void*, void**)
{
    g_slot = TlsAlloc();
    if (g_slot == TLS_OUT_OF_INDEXES)
        return FALSE;
    g_previous = SetUnhandledExceptionFilter(Filter);
    InterlockedExchange(&g_filterInstalled, 1);
    return TRUE;
}

}  // namespace

namespace tk {

void SetSeTranslator(SeTranslator fn)
{
    if (!InitOnceExecuteOnce(&g_once, InstallFilter, nullptr, nullptr))
        return;
    PendingFault* pending = static_cast<PendingFault*>(TlsGetValue(g_slot));
    if (!fn) {
        if (pending) {
            TlsSetValue(g_slot, nullptr);
            HeapFree(GetProcessHeap(), 0, pending);
        }
        return;
    }
    if (!pending) {
        pending = static_cast<PendingFault*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *pending));
        if (!pending)
            return;
        TlsSetValue(g_slot, pending);
    }
    pending->translator = fn;
}

void ReleaseTranslation()
{
    if (!InterlockedExchange(&g_filterInstalled, 0))
        return;
    /* Only when nobody replaced ours since: otherwise the current filter is
     * someone else's and may already chain to ours. */
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(g_previous);
    if (current != Filter)
        SetUnhandledExceptionFilter(current);
    TlsFree(g_slot);
    g_slot = TLS_OUT_OF_INDEXES;
}

}  // namespace tk
