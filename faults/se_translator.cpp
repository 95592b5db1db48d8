/* se_translator.cpp -- per-thread translation of processor faults. */
#include <windows.h>

#include <new>
#include <string.h>
#include <utility>

#include "base/last_error.h"
#include "base/unique_handle.h"
#include "faults/call_stack.h"
#include "faults/processor.h"
#include "faults/se_translator.h"
#include "faults/throw_site.h"

namespace {

/* What the first-chance handler or the filter leaves for the resumed
 * thread: the fault's description and where to pretend the call came from.
 * One per thread that installed a translator, reached through a fiber-local
 * slot whose callback frees it when the thread ends (the library asks for
 * no thread notifications); the handlers themselves never allocate. */
struct PendingFault {
    tk::SeTranslator translator;
    DWORD_PTR returnAddress;
    EXCEPTION_RECORD record;
    CONTEXT context;
    /* Where the throw starts, when not at the fault; here rather than on
     * the handler's stack, which a fault may have left short. */
    tk::ThrowSite site;
    /* While a handler of ours handles a fault: where on the stack
     * (InsideFilter). */
    DWORD_PTR insideAt;
    /* The fault's stack, recorded before any frame was unwound. */
    DWORD_PTR frames[tk::kMostStackFrames];
    int frameCount;
    /* While the translator runs: its copy of those frames, until the
     * exception it makes takes them (TakeTranslatedFaultStack). */
    const DWORD_PTR* raisingFrames;
    int raisingCount;
};

/* Threads that hold a block. */
volatile LONG g_blocks;

PendingFault* NewBlock()
{
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PendingFault));
    if (block)
        InterlockedIncrement(&g_blocks);
    return static_cast<PendingFault*>(block);
}

/* The slot's callback, and the release of a block that never reached it. */
void WINAPI FreeBlock(void* block)
{
    if (!block)
        return;
    HeapFree(GetProcessHeap(), 0, block);
    InterlockedDecrement(&g_blocks);
}

struct BlockTraits {
    typedef PendingFault* Handle;
    static PendingFault* Empty() { return nullptr; }
    static void Close(PendingFault* block) { FreeBlock(block); }
};
typedef tk::UniqueHandle<BlockTraits> UniqueBlock;

/* Freeing the slot frees the blocks that threads still hold, through its
 * callback. */
struct FlsSlotTraits {
    typedef DWORD Handle;
    static DWORD Empty() { return FLS_OUT_OF_INDEXES; }
    static void Close(DWORD slot) { FlsFree(slot); }
};
typedef tk::UniqueHandle<FlsSlotTraits> UniqueFlsSlot;

struct VectoredHandlerTraits {
    typedef PVOID Handle;
    static PVOID Empty() { return nullptr; }
    static void Close(PVOID handler) { RemoveVectoredExceptionHandler(handler); }
};
typedef tk::UniqueHandle<VectoredHandlerTraits> UniqueVectoredHandler;

/* What the first install sets up for the process: the slot, and the
 * first-chance handler that reads the blocks in it, removed before they
 * are freed. */
struct Installation {
    UniqueFlsSlot slot;
    UniqueVectoredHandler firstChance;
};

/* Made by the first install and destroyed only by ReleaseTranslation, never
 * with the library's static objects: those are destroyed at process exit
 * too, when the slot must stay (see DllMain). Null while there is none. */
alignas(Installation) unsigned char g_installationStorage[sizeof(Installation)];
Installation* g_installation;

LPTOP_LEVEL_EXCEPTION_FILTER g_previous;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
/* Set while our filter is the process's filter. */
volatile LONG g_filterInstalled;

PendingFault* CurrentPending()
{
    if (!g_installation)
        return nullptr;
    /* FlsGetValue may clear the last-error code on success; the faulting
     * code may be about to read it. */
    tk::LastErrorKeeper keep;
    return static_cast<PendingFault*>(FlsGetValue(g_installation->slot.Get()));
}

/* The platform compiler's C++ throw. GCC's own codes (0x20474343 for a
 * throw, 0x21474343 and 0x22474343 for the unwinds it starts) carry the
 * success severity: a throw that no frame takes reaches the filter, and
 * GCC's runtime counts on the filter before ours to let it return, so that
 * std::terminate runs. */
const DWORD kPlatformCxxThrow = 0xE06D7363;
/* Warnings and errors; informational codes (a debugger's text, a thread's
 * name) are raised for whoever listens and handled where they are raised. */
const DWORD kFaultSeverity = 0x80000000;

/* Faults, as the header says: not a C++ runtime's throw, not informational,
 * and continuable (a non-continuable exception cannot be resumed at the
 * stub; it takes the platform's default course). */
bool Translatable(const EXCEPTION_RECORD* record)
{
    return (record->ExceptionCode & kFaultSeverity) && record->ExceptionCode != kPlatformCxxThrow &&
        !(record->ExceptionFlags & EXCEPTION_NONCONTINUABLE);
}

}  // namespace

/* Entered from the target's stub (faults/<target>/fault_stub.cpp)
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
    DWORD_PTR frames[tk::kMostStackFrames];
    const int frameCount = pending->frameCount;
    memcpy(frames, pending->frames, frameCount * sizeof frames[0]);
    EXCEPTION_POINTERS pointers = { &record, &context };
    /* Offered to the exception that the translator makes, which takes
     * them. No destructor withdraws them: a cleanup here would cost the
     * throw a landing pad, on x86_64 a second dispatch of the exception. */
    pending->raisingFrames = frames;
    pending->raisingCount = frameCount;
    pending->translator(record.ExceptionCode, &pointers);
    pending->raisingFrames = nullptr;
    RaiseException(record.ExceptionCode, EXCEPTION_NONCONTINUABLE,
                   record.NumberParameters, record.ExceptionInformation);
}

extern "C" __attribute__((used)) DWORD_PTR tk_PendingReturnAddress()
{
    return CurrentPending()->returnAddress;
}

extern "C" void tk_FaultStub();

namespace {

/* Marks the thread as inside our handling of a fault (the first-chance
 * handler's or the filter's) for the mark's life, by the mark's own place
 * on the thread's stack. A fault below it happened inside that handling;
 * one above it (a mark left behind when a handler took such a fault and
 * the thread went on) did not. */
class InsideFilter {
public:
    explicit InsideFilter(PendingFault* pending) : pending_(pending)
    {
        pending_->insideAt = reinterpret_cast<DWORD_PTR>(this);
    }
    ~InsideFilter() { pending_->insideAt = 0; }

    static bool Holds(const PendingFault& pending, const CONTEXT& fault)
    {
        return pending.insideAt && tk::arch::StackPointer(fault) < pending.insideAt;
    }

private:
    InsideFilter(const InsideFilter&) = delete;
    InsideFilter& operator=(const InsideFilter&) = delete;

    PendingFault* pending_;
};

/* Prepares the thread to resume at the stub and throw there; false when no
 * catch can be reached by rule without the C++ runtime terminating. */
bool Translate(EXCEPTION_POINTERS* p, PendingFault* pending, tk::WalkRule rule)
{
    const InsideFilter inside(pending);
    const tk::ThrowCourse course = tk::FindThrowSite(*p->ContextRecord, rule, &pending->site);
    if (course == tk::ThrowCourse::kUntranslated)
        return false;
    pending->record = *p->ExceptionRecord;
    pending->record.ExceptionRecord = nullptr;
    pending->context = *p->ContextRecord;
    /* While the frames between the fault and the catch still exist. */
    pending->frameCount = tk::RecordFaultStack(*p->ContextRecord, pending->frames, tk::kMostStackFrames);
    if (course == tk::ThrowCourse::kAtFault) {
        pending->returnAddress = tk::arch::ProgramCounter(*p->ContextRecord) + 1;
    } else {
        /* The caller's registers, as after the call returned: the stub
         * makes the call itself look like the thrower. */
        *p->ContextRecord = pending->site.context;
        pending->returnAddress = tk::arch::ProgramCounter(*p->ContextRecord);
    }
    /* The record's copy keeps the fault's own floating-point state for the
     * report; the thread goes on without it. */
    tk::arch::ClearFloatingPointFaults(*p->ContextRecord);
    /* Resume at the stub on the faulting thread's own stack; the system's
     * copies of record and context are gone once it runs. */
    tk::arch::ResumeAt(*p->ContextRecord, tk_FaultStub);
    return true;
}

/* The thread's block when it has a translator and the fault did not
 * happen inside our own handling of another. */
PendingFault* Translating(const CONTEXT& fault)
{
    PendingFault* pending = CurrentPending();
    return pending && pending->translator && !InsideFilter::Holds(*pending, fault) ? pending : nullptr;
}

/* First in the system's search for a handler, as the platform compiler's
 * translator is called during that search: the fault goes to the nearest
 * catch when no frame below it has a handler of its own. Otherwise the
 * search goes on, and the filter is the last chance. Stack overflow is the
 * filter's alone. */
LONG CALLBACK FirstChance(EXCEPTION_POINTERS* p)
{
    if (!Translatable(p->ExceptionRecord) || p->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    PendingFault* pending = Translating(*p->ContextRecord);
    return pending && Translate(p, pending, tk::WalkRule::kFirstChance) ? EXCEPTION_CONTINUE_EXECUTION
                                                                        : EXCEPTION_CONTINUE_SEARCH;
}

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
    /* The fault takes the course it takes on any other thread when it is no
     * fault, when it happened inside our own handling of another (a second
     * walk might only fault again), and when no catch can be reached
     * without the C++ runtime terminating. */
    if (Translatable(p->ExceptionRecord) && (pending = Translating(*p->ContextRecord)) &&
        Translate(p, pending, tk::WalkRule::kLastChance))
        return EXCEPTION_CONTINUE_EXECUTION;
    return g_previous ? g_previous(p) : EXCEPTION_CONTINUE_SEARCH;
}

/* Keeps the library loaded for the rest of the process. */
void PinLibrary()
{
    tk::LastErrorKeeper keep;
    HMODULE self;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&Filter), &self);
}

BOOL CALLBACK InstallFilter(INIT_ONCE*, void*, void**)
{
    UniqueFlsSlot slot(FlsAlloc(FreeBlock));
    if (!slot)
        return FALSE;
    UniqueVectoredHandler firstChance(AddVectoredExceptionHandler(1, FirstChance));
    if (!firstChance)
        return FALSE;
    g_installation = new (g_installationStorage) Installation{ std::move(slot), std::move(firstChance) };
    g_previous = SetUnhandledExceptionFilter(Filter);
    InterlockedExchange(&g_filterInstalled, 1);
    return TRUE;
}

}  // namespace

namespace tk {

void SetSeTranslator(SeTranslator fn)
{
    /* Removing a translator that was never installed needs no filter. */
    if (!fn && !g_filterInstalled)
        return;
    /* Nothing after ReleaseTranslation: the install is not made again. */
    if (!InitOnceExecuteOnce(&g_once, InstallFilter, nullptr, nullptr) || !g_installation)
        return;
    PendingFault* pending = CurrentPending();
    if (!fn) {
        if (pending) {
            FlsSetValue(g_installation->slot.Get(), nullptr);
            FreeBlock(pending);
        }
        return;
    }
    if (!pending) {
        UniqueBlock block(NewBlock());
        if (!block || !FlsSetValue(g_installation->slot.Get(), block.Get()))
            return;
        pending = block.Release();
    }
    PrepareThrowSites();
    pending->translator = fn;
}

long TranslatingThreads() { return g_blocks; }

int TakeTranslatedFaultStack(DWORD_PTR* frames, int most)
{
    PendingFault* pending = CurrentPending();
    if (!pending || !pending->raisingFrames)
        return -1;
    const int count = pending->raisingCount < most ? pending->raisingCount : most;
    memcpy(frames, pending->raisingFrames, count * sizeof frames[0]);
    pending->raisingFrames = nullptr;
    return count;
}

void PinIfChainedOver()
{
    if (!g_filterInstalled)
        return;
    /* There is no reading the current filter but by replacing it: with ours,
     * which changes nothing while ours is the current one. */
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(Filter);
    if (current != Filter) {
        SetUnhandledExceptionFilter(current);
        PinLibrary();
    }
}

void ReleaseTranslation()
{
    if (!InterlockedExchange(&g_filterInstalled, 0))
        return;
    /* Only when nobody replaced ours since: otherwise the current filter is
     * someone else's and may chain to ours, which then stays. */
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(g_previous);
    if (current != Filter) {
        SetUnhandledExceptionFilter(current);
        PinLibrary();
    }
    Installation* installation = g_installation;
    g_installation = nullptr;
    installation->~Installation();
}

}  // namespace tk
