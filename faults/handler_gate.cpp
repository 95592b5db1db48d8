/* handler_gate.cpp -- the gate's page: a named section of this process and
 * library file, so that a later load of the library finds the one that an
 * earlier load made. The section's first view holds the gate's code and, at its end,
 * its own address, which later views read; one handle to it stays open
 * for the process, which keeps the name. */
#include <string.h>

#include "faults/handler_gate.h"

extern "C" {
/* The gate's block (faults/<target>/handler_gate_code.cpp), with its data
 * and its entry. */
extern const unsigned char tk_GateBegin[], tk_GateEpoch[], tk_GateInFlight[], tk_GateTarget[], tk_GateEntry[],
    tk_GateEnd[];
}

namespace tk {

namespace {

const DWORD kGateBytes = 4096;

/* What follows the block in the page. */
struct GateTail {
    unsigned char* self;   /* the first view, where the gate runs */
#ifdef _WIN64
    /* The entry's unwind information, for the system's unwinder to pass
     * the gate's frame when an exception is raised inside the handler. */
    RUNTIME_FUNCTION function;
    unsigned char unwind[8];
#endif
};

unsigned char* g_gate;

DWORD Offset(const unsigned char* label) { return static_cast<DWORD>(label - tk_GateBegin); }

/* The epoch, and a count of the calls running for each of its parities. */
volatile LONG* Epoch() { return reinterpret_cast<volatile LONG*>(g_gate + Offset(tk_GateEpoch)); }
volatile LONG* InFlight() { return reinterpret_cast<volatile LONG*>(g_gate + Offset(tk_GateInFlight)); }

void* volatile* Target() { return reinterpret_cast<void* volatile*>(g_gate + Offset(tk_GateTarget)); }

GateTail* Tail(unsigned char* view) { return reinterpret_cast<GateTail*>(view + kGateBytes - sizeof(GateTail)); }

/* Fills the first view and adds its entry to the list. */
bool MakeGate(unsigned char* view)
{
    const DWORD size = Offset(tk_GateEnd);
    memcpy(view, tk_GateBegin, size);
    GateTail* tail = Tail(view);
    tail->self = view;
#ifdef _WIN64
    /* Version 1, no handler; a 4-byte prologue with one code: at offset 4,
     * a small allocation of (4 + 1) * 8 bytes. */
    const unsigned char unwind[8] = { 0x01, 4, 1, 0, 4, 0x42, 0, 0 };
    memcpy(tail->unwind, unwind, sizeof unwind);
    tail->function.BeginAddress = Offset(tk_GateEntry);
    tail->function.EndAddress = size;
    tail->function.UnwindData = static_cast<DWORD>(tail->unwind - view);
    if (!RtlAddFunctionTable(&tail->function, 1, reinterpret_cast<DWORD64>(view)))
        return false;
#endif
    FlushInstructionCache(GetCurrentProcess(), view, kGateBytes);
    return AddVectoredExceptionHandler(0, reinterpret_cast<PVECTORED_EXCEPTION_HANDLER>(
                                              reinterpret_cast<void*>(view + Offset(tk_GateEntry)))) != nullptr;
}

/* The gate's name: the process's, and the library file's, for a copy of
 * the library loaded from another file has a gate of its own. */
void GateName(wchar_t* name)
{
    wchar_t path[MAX_PATH] = L"";
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&GateName), &self);
    GetModuleFileNameW(self, path, MAX_PATH);
    /* FNV-1a over the path, its letters in one case as the file system's. */
    DWORD hash = 2166136261u;
    for (const wchar_t* c = path; *c; ++c)
        hash = (hash ^ (*c >= L'a' && *c <= L'z' ? *c - (L'a' - L'A') : *c)) * 16777619u;
    wsprintfW(name, L"Local\\tools.dll fault gate %lx %lx", GetCurrentProcessId(), hash);
}

/* The process's gate, made when it has none; null when it cannot be. */
unsigned char* FindGate()
{
    wchar_t name[64];
    GateName(name);
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_EXECUTE_READWRITE, 0, kGateBytes, name);
    if (!section)
        return nullptr;
    const bool found = GetLastError() == ERROR_ALREADY_EXISTS;
    unsigned char* view = static_cast<unsigned char*>(
        MapViewOfFile(section, FILE_MAP_WRITE | FILE_MAP_READ | FILE_MAP_EXECUTE, 0, 0, kGateBytes));
    if (!view) {
        CloseHandle(section);
        return nullptr;
    }
    if (found) {
        unsigned char* gate = Tail(view)->self;
        UnmapViewOfFile(view);
        CloseHandle(section);
        return gate;
    }
    if (!MakeGate(view)) {
        UnmapViewOfFile(view);
        CloseHandle(section);
        return nullptr;
    }
    return view;
}

}  // namespace

bool OpenHandlerGate(PVECTORED_EXCEPTION_HANDLER handler)
{
    if (!g_gate)
        g_gate = FindGate();
    if (!g_gate)
        return false;
    InterlockedExchangePointer(Target(), reinterpret_cast<void*>(handler));
    return true;
}

void CloseHandlerGate()
{
    if (!g_gate)
        return;
    InterlockedExchangePointer(Target(), nullptr);
    /* Calls that begin from now on count in the next epoch's count and find
     * no target; those counted in this one's may still run the library's
     * handler. Waiting on one count for all would wait for ever while
     * other threads keep raising exceptions. */
    const LONG epoch = InterlockedIncrement(Epoch()) - 1;
    while (InFlight()[epoch & 1])
        SwitchToThread();
}

}  // namespace tk
