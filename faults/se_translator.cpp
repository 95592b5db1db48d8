/* se_translator.cpp -- per-thread translation of processor faults. */
#include <windows.h>

#include <new>
#include <string.h>
#include <utility>

#include "base/last_error.h"
#include "base/unique_handle.h"
#include "frames/call_stack.h"
#include "faults/cxx_state.h"
#include "frames/frame_walk.h"
#include "faults/handler_gate.h"
#include "frames/module_watch.h"
#include "frames/processor.h"
#include "faults/se_translator.h"
#include "faults/throw_site.h"

namespace {

/* What the first-chance handler or the filter leaves for the resumed
 * thread: the fault's description and where to pretend the call came from.
 * One per thread that installed a translator, found through a thread-local
 * slot by every fiber of the thread, and freed through a fiber-local slot
 * whose callback runs when the fiber that installed it ends, with the
 * thread (the library asks for no thread notifications). The handlers
 * themselves never allocate. */
struct PendingFault {
    tk::SeTranslator translator;
    DWORD thread;   /* the thread whose block it is */
    const tk::CxxThreadState* cxx;   /* the C++ runtime's, of that thread */
    DWORD_PTR returnAddress;
    /* The stack pointer of the frame that throws when the throw skips the
     * frames below it; 0 when it throws from the fault. */
    DWORD_PTR skippedBelow;
    EXCEPTION_RECORD record;
    CONTEXT context;
    /* The walk of the fault that the handlers handle now, and which one it
     * is: the last chance goes on with the first chance's walk. Here
     * rather than on the handler's stack, which a fault may have left
     * short. */
    tk::ThrowWalk walk;
    const EXCEPTION_RECORD* walked;
    DWORD_PTR walkedAt;
    /* While a handler of ours handles a fault: where on the stack
     * (InsideFilter). */
    DWORD_PTR insideAt;
    /* The fault's stack, recorded before any frame was unwound. */
    DWORD_PTR frames[tk::kMostStackFrames];
    int frameCount;
    /* The frames above the last translated fault's catch. */
    tk::StackTail tail;
    /* While the translator runs: its copy of those frames, until the
     * exception it makes takes them (TakeTranslatedFaultStack). */
    const DWORD_PTR* raisingFrames;
    int raisingCount;
};

/* Threads that hold a block. */
volatile LONG g_blocks;
/* Set while ReleaseTranslation frees the slots: every block goes then. */
volatile LONG g_releasing;

PendingFault* NewBlock()
{
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PendingFault));
    if (block)
        InterlockedIncrement(&g_blocks);
    return static_cast<PendingFault*>(block);
}

void FreeBlock(PendingFault* block)
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

struct TlsSlotTraits {
    typedef DWORD Handle;
    static DWORD Empty() { return TLS_OUT_OF_INDEXES; }
    static void Close(DWORD slot) { TlsFree(slot); }
};
typedef tk::UniqueHandle<TlsSlotTraits> UniqueTlsSlot;

/* Freeing the slot frees the blocks that fibers still hold, through its
 * callback. */
struct FlsSlotTraits {
    typedef DWORD Handle;
    static DWORD Empty() { return FLS_OUT_OF_INDEXES; }
    static void Close(DWORD slot) { FlsFree(slot); }
};
typedef tk::UniqueHandle<FlsSlotTraits> UniqueFlsSlot;

/* What the first install sets up for the process besides the handlers:
 * the thread's slot and the slot that frees its block. */
struct Installation {
    UniqueTlsSlot threadSlot;
    UniqueFlsSlot endSlot;
};

/* Made by the first install and destroyed only by ReleaseTranslation, never
 * with the library's static objects: those are destroyed at process exit
 * too, when the slot must stay (see DllMain). Null while there is none. */
alignas(Installation) unsigned char g_installationStorage[sizeof(Installation)];
Installation* volatile g_installation;

LPTOP_LEVEL_EXCEPTION_FILTER g_previous;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
/* Set while our filter is the process's filter. */
volatile LONG g_filterInstalled;

/* Calls of our filters that run now, on any thread; the library's unload
 * waits until none does. Set closed first, every call that starts after
 * does nothing but pass the exception on. (The vectored handler's calls
 * are the gate's to count.) The system calls the process's filter only for
 * an exception that no handler took, and gives no way to wait for a call
 * of it that has not begun: this count starts at each call's first
 * statement. */
volatile LONG g_inFlight;
volatile LONG g_closed;

class InFlight {
public:
    InFlight() { InterlockedIncrement(&g_inFlight); }
    ~InFlight() { InterlockedDecrement(&g_inFlight); }

private:
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
};

PendingFault* CurrentPending()
{
    const Installation* installation = g_installation;
    if (!installation)
        return nullptr;
    /* TlsGetValue clears the last-error code on success; the faulting code
     * may be about to read it. */
    tk::LastErrorKeeper keep;
    return static_cast<PendingFault*>(TlsGetValue(installation->threadSlot.Get()));
}

/* The fiber-local slot's callback: the fiber that installed the block
 * ended, and with it, as a rule, its thread. Another thread ending that
 * fiber (DeleteFiber) leaves the block to its own thread, which still
 * reads it. */
void WINAPI BlockEnded(void* block)
{
    PendingFault* pending = static_cast<PendingFault*>(block);
    if (!pending)
        return;
    if (!g_releasing) {
        if (pending->thread != GetCurrentThreadId())
            return;
        const DWORD slot = g_installation->threadSlot.Get();
        if (TlsGetValue(slot) == pending)
            TlsSetValue(slot, nullptr);
    }
    FreeBlock(pending);
}

/* The platform compiler's C++ throw. GCC's own codes (0x20474343 for a
 * throw, 0x21474343 and 0x22474343 for the unwinds it starts) carry the
 * success severity: a throw that no frame takes reaches the filter, and
 * GCC's runtime counts on the filter before ours to let it return, so that
 * std::terminate runs. */
const DWORD kPlatformCxxThrow = 0xE06D7363;
/* Warnings and errors; informational codes (a debugger's text, a thread's
 * name, a 32-bit program's breakpoint under WOW64) are raised for whoever
 * listens and handled where they are raised. */
const DWORD kFaultSeverity = 0x80000000;

/* Faults, as the header says: not a C++ runtime's throw, not a breakpoint
 * (a debugger's, or an assertion's call for one), not informational, and
 * continuable (a non-continuable exception cannot be resumed at the stub;
 * it takes the platform's default course). */
bool Translatable(const EXCEPTION_RECORD* record)
{
    const DWORD code = record->ExceptionCode;
    return (code & kFaultSeverity) && code != kPlatformCxxThrow && code != EXCEPTION_BREAKPOINT &&
        !(record->ExceptionFlags & EXCEPTION_NONCONTINUABLE);
}

/* Stack that a translation needs, with room to spare: below the handler,
 * for the walk; and below the fault's stack pointer, for the system's
 * dispatch of the fault, the stub, the translator and the C++ runtime's
 * throw with the system's dispatch of it. All of that took 7.7 KB below
 * the faulting frame on x86_64, and 3.5 KB on i686, under Wine. */
const size_t kRoomToWalk = 4 * 1024;
const size_t kRoomToThrow = 12 * 1024;

bool RoomToTranslate(const CONTEXT& fault)
{
    const volatile char here = 0;
    return tk::RoomBelow(reinterpret_cast<DWORD_PTR>(&here), kRoomToWalk) &&
        tk::RoomBelow(tk::arch::StackPointer(fault), kRoomToThrow);
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
    if (pending->skippedBelow)
        tk::EndSkippedHandlers(pending->skippedBelow);
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

/* Whether the block's walk is of the fault that p describes: the system
 * hands the filter the record that it handed the first-chance handler. */
bool WalkOf(const PendingFault& pending, const EXCEPTION_POINTERS* p)
{
    return pending.walked == p->ExceptionRecord && pending.walkedAt == tk::arch::StackPointer(*p->ContextRecord);
}

/* Prepares the thread to resume at the stub and throw there; false when no
 * catch can be reached by rule without the C++ runtime terminating. The
 * first chance starts the fault's walk; the last chance goes on with it. */
bool Translate(EXCEPTION_POINTERS* p, PendingFault* pending, tk::WalkRule rule)
{
    const InsideFilter inside(pending);
    tk::ThrowWalk& walk = pending->walk;
    if (rule == tk::WalkRule::kFirstChance || !WalkOf(*pending, p)) {
        tk::StartWalk(*p->ContextRecord, tk::UnwindingAnother(pending->cxx), &walk);
        pending->walked = p->ExceptionRecord;
        pending->walkedAt = tk::arch::StackPointer(*p->ContextRecord);
    }
    const tk::ThrowCourse course = tk::ContinueWalk(&walk, rule);
    if (course == tk::ThrowCourse::kUntranslated)
        return false;
    pending->walked = nullptr;
    pending->record = *p->ExceptionRecord;
    pending->record.ExceptionRecord = nullptr;
    pending->context = *p->ContextRecord;
    /* The fault's call stack, while the frames between the fault and the
     * catch still exist: the walk's own record of those, and then the
     * frames from the catching frame's caller up. */
    memcpy(pending->frames, walk.frames, walk.recorded * sizeof walk.frames[0]);
    pending->frameCount = walk.recorded +
        tk::RecordStackFrom(walk.frame, pending->frames + walk.recorded, tk::kMostStackFrames - walk.recorded,
                            &pending->tail);
    if (course == tk::ThrowCourse::kAtFault) {
        pending->returnAddress = tk::arch::ProgramCounter(*p->ContextRecord) + 1;
        pending->skippedBelow = 0;
    } else {
        /* The caller's registers, as after the call returned: the stub
         * makes the call itself look like the thrower. */
        *p->ContextRecord = walk.site;
        pending->returnAddress = tk::arch::ProgramCounter(*p->ContextRecord);
        pending->skippedBelow = tk::arch::StackPointer(*p->ContextRecord);
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

/* In the system's search for a handler, as the platform compiler's
 * translator is called during that search, but after the host's own
 * vectored handlers: the fault goes to the nearest catch when no frame
 * below it has a handler that may take it. Otherwise the search goes on,
 * and the filter is the last chance. Stack overflow is the filter's
 * alone. */
LONG CALLBACK FirstChance(EXCEPTION_POINTERS* p)
{
    if (!Translatable(p->ExceptionRecord) || p->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    PendingFault* pending = Translating(*p->ContextRecord);
    if (!pending)
        return EXCEPTION_CONTINUE_SEARCH;
    /* The last chance must not take an older fault's walk for this one. */
    pending->walked = nullptr;
    if (!RoomToTranslate(*p->ContextRecord))
        return EXCEPTION_CONTINUE_SEARCH;
    return Translate(p, pending, tk::WalkRule::kFirstChance) ? EXCEPTION_CONTINUE_EXECUTION
                                                             : EXCEPTION_CONTINUE_SEARCH;
}

tk::UnhandledWatch volatile g_watch;

/* The course of an exception that no catch took: the watch first, then the
 * filter that was in place before ours. */
LONG Untaken(EXCEPTION_POINTERS* p)
{
    const tk::UnhandledWatch watch = g_watch;
    if (watch && watch(p))
        return EXCEPTION_CONTINUE_EXECUTION;
    return g_previous ? g_previous(p) : EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI Filter(EXCEPTION_POINTERS* p)
{
    const InFlight call;
    PendingFault* pending = g_closed ? nullptr : CurrentPending();
    if (pending && pending->translator && p->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        /* No room is left for a throw, and the platform's own course differs:
         * Windows ends the process, Wine may end only the thread and leave the
         * host waiting on it for ever. A crash reporter installed before us
         * sees the overflow first; then the process ends, with the fault's
         * code, the same way everywhere. */
        Untaken(p);
        TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
    }
    /* The fault takes the course it takes on any other thread when it is no
     * fault, when it happened inside our own handling of another (a second
     * walk might only fault again), when the stack has no room for the
     * translation, and when no catch can be reached without the C++
     * runtime terminating. */
    if (pending && Translatable(p->ExceptionRecord) && (pending = Translating(*p->ContextRecord)) &&
        RoomToTranslate(*p->ContextRecord) && Translate(p, pending, tk::WalkRule::kLastChance))
        return EXCEPTION_CONTINUE_EXECUTION;
    return Untaken(p);
}

/* While the process's filter is being read: the one that was in place, to
 * which the reading's own filter passes each exception. */
LPTOP_LEVEL_EXCEPTION_FILTER volatile g_readOver;

LONG WINAPI NoFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

/* Stands in while the filter is read: an exception that reaches it in that
 * moment goes on to the filter it stands in for, once the reading made it
 * known, a few instructions later. */
LONG WINAPI PassOn(EXCEPTION_POINTERS* p)
{
    const InFlight call;
    LPTOP_LEVEL_EXCEPTION_FILTER to;
    while (!(to = g_readOver))
        SwitchToThread();
    return to(p);
}

/* Reads the process's filter, which only a replacement tells, and puts in
 * its place the same filter, or replacement where that was ours; returns
 * the one that was in place. No exception meets a filter in between that
 * would not pass it on to that one. */
LPTOP_LEVEL_EXCEPTION_FILTER ReadFilter(LPTOP_LEVEL_EXCEPTION_FILTER replacement)
{
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_readOver), nullptr);
    const LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(PassOn);
    const LPTOP_LEVEL_EXCEPTION_FILTER next = current == Filter ? replacement : current;
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_readOver),
                               reinterpret_cast<void*>(next ? next : NoFilter));
    SetUnhandledExceptionFilter(next);
    return current;
}

/* Keeps the library loaded for the rest of the process. */
void PinLibrary()
{
    tk::LastErrorKeeper keep;
    HMODULE self;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&Filter), &self);
}

BOOL CALLBACK Install(INIT_ONCE*, void*, void**)
{
    UniqueTlsSlot threadSlot(TlsAlloc());
    UniqueFlsSlot endSlot(FlsAlloc(BlockEnded));
    /* The gate lies at the end of the list: the host's own vectored
     * handlers, registered before, or at the front at any time, see a
     * fault before we do. */
    if (!threadSlot || !endSlot || !tk::OpenHandlerGate(FirstChance))
        return FALSE;
    g_installation = new (g_installationStorage) Installation{ std::move(threadSlot), std::move(endSlot) };
    g_previous = SetUnhandledExceptionFilter(Filter);
    tk::WatchModules();
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
    if (!InitOnceExecuteOnce(&g_once, Install, nullptr, nullptr) || !g_installation)
        return;
    const Installation& installation = *g_installation;
    PendingFault* pending = CurrentPending();
    if (!fn) {
        if (!pending)
            return;
        pending->translator = nullptr;
        /* The block goes with the fiber-local entry of the fiber that
         * installed it; called on another fiber, it goes when that fiber
         * ends. */
        if (FlsGetValue(installation.endSlot.Get()) == pending) {
            FlsSetValue(installation.endSlot.Get(), nullptr);
            TlsSetValue(installation.threadSlot.Get(), nullptr);
            FreeBlock(pending);
        }
        return;
    }
    if (!pending) {
        UniqueBlock block(NewBlock());
        if (!block || !FlsSetValue(installation.endSlot.Get(), block.Get()))
            return;
        if (!TlsSetValue(installation.threadSlot.Get(), block.Get())) {
            FlsSetValue(installation.endSlot.Get(), nullptr);
            return;
        }
        pending = block.Release();
        pending->thread = GetCurrentThreadId();
        pending->cxx = ThreadCxxState();
    }
    PrepareThrowSites();
    pending->translator = fn;
}

bool WatchUnhandled(UnhandledWatch watch)
{
    if (!watch) {
        g_watch = nullptr;
        return true;
    }
    if (!InitOnceExecuteOnce(&g_once, Install, nullptr, nullptr) || !g_installation)
        return false;
    g_watch = watch;
    return true;
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
    if (g_filterInstalled && ReadFilter(Filter) != Filter)
        PinLibrary();
}

void ReleaseTranslation()
{
    if (!InterlockedExchange(&g_filterInstalled, 0))
        return;
    InterlockedExchange(&g_closed, 1);
    StopWatchingModules();
    /* Only when nobody replaced ours since: otherwise the current filter is
     * someone else's and may chain to ours, which then stays. */
    if (ReadFilter(g_previous) != Filter)
        PinLibrary();
    tk::CloseHandlerGate();
    while (g_inFlight)
        SwitchToThread();
    Installation* installation = g_installation;
    InterlockedExchange(&g_releasing, 1);
    ReleaseFrameLookup();
    installation->~Installation();
    g_installation = nullptr;
}

}  // namespace tk
