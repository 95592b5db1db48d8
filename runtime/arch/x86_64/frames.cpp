/* frames.cpp (x86_64) -- stepping a faulting thread's frames with the
 * system's own unwinder and function tables, which every image of the
 * platform and of GCC carries. */
#include <string.h>

#include "arch.h"

namespace tk {
namespace arch {

namespace {

const void* g_personality;

/* A handler named in unwind information lies in the function's own image:
 * GCC's personality routine itself (a C++ runtime linked in), or a jump
 * through the image's import table to the shared runtime's. */
bool IsCxxPersonality(const void* handler)
{
    if (!handler || !g_personality)
        return false;
    if (handler == g_personality)
        return true;
    const unsigned char* code = static_cast<const unsigned char*>(handler);
    if (code[0] != 0xFF || code[1] != 0x25)   /* jmp *disp32(%rip) */
        return false;
    int displacement;
    memcpy(&displacement, code + 2, sizeof displacement);
    const void* const* slot = reinterpret_cast<const void* const*>(code + 6 + displacement);
    return *slot == g_personality;
}

/* Within the committed part of this thread's stack, which is all that a
 * walk from a fault on it reads. */
bool OnStack(DWORD64 address)
{
/* GCC 12 takes the segment read of NtCurrentTeb for an access to an
 * empty array. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
#pragma GCC diagnostic pop
    return address >= reinterpret_cast<DWORD64>(tib->StackLimit) &&
        address + sizeof(DWORD64) <= reinterpret_cast<DWORD64>(tib->StackBase);
}

}  // namespace

void LearnPersonality()
{
    HMODULE runtime = GetModuleHandleA("libstdc++-6.dll");
    g_personality = runtime ? reinterpret_cast<const void*>(GetProcAddress(runtime, "__gxx_personality_seh0"))
                            : nullptr;
}

bool StepFrame(CONTEXT& context, bool, FrameFacts* facts)
{
    if (!OnStack(context.Rsp))
        return false;
    DWORD64 base = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &base, nullptr);
    if (!function) {
        /* A leaf function needs no unwind information: it has not moved the
         * stack, and its return address is on top. The system's unwinder
         * takes it so too. */
        context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
        context.Rsp += 8;
        return true;
    }
    void* data = nullptr;
    DWORD64 establisher = 0;
    PEXCEPTION_ROUTINE handler =
        RtlVirtualUnwind(UNW_FLAG_EHANDLER, base, context.Rip, function, &context, &data, &establisher, nullptr);
    if (IsCxxPersonality(reinterpret_cast<const void*>(handler)) && data) {
        facts->lsda = static_cast<const unsigned char*>(data);
        facts->regionStart = base + function->BeginAddress;
    }
    return context.Rip == 0 || OnStack(context.Rsp);
}

}  // namespace arch
}  // namespace tk
