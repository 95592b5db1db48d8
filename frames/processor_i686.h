/* processor_i686.h -- what the fault translator needs to know of a
 * 32-bit x86 processor. The x86_64 twin of this file has the same
 * names; frames/processor.h picks the target's. */
#ifndef TOOLS_FRAMES_PROCESSOR_I686_H
#define TOOLS_FRAMES_PROCESSOR_I686_H

#include <string.h>
#include <unwind.h>
#include <windows.h>

/* GCC's unwinder's own lookup of the frame description entry that covers
 * pc, among the tables that modules built by GCC registered. */
struct dwarf_eh_bases {
    void* tbase;
    void* dbase;
    void* func;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, dwarf_eh_bases* bases);

/* The stub enters tk_RaiseTranslated with whatever 4-byte alignment the
 * faulting code had; the function realigns its own frame. */
#define TK_STUB_TARGET_ALIGNMENT __attribute__((force_align_arg_pointer))

namespace tk {
namespace arch {

inline DWORD_PTR ProgramCounter(const CONTEXT& context) { return context.Eip; }
inline DWORD_PTR StackPointer(const CONTEXT& context) { return context.Esp; }
inline void SetProgramCounter(CONTEXT& context, DWORD_PTR at) { context.Eip = at; }
inline void SetStackPointer(CONTEXT& context, DWORD_PTR at) { context.Esp = at; }

/* The lookup of the unwind information that covers a code address. */
typedef const void* (*FindFrameFn)(void* pc, dwarf_eh_bases* bases);

/* Resumes the thread at stub, with every other register as it was but
 * the trap flag: a single step's context still has it set, and the stub
 * would trap again at its first instruction. */
inline void ResumeAt(CONTEXT& context, void (*stub)())
{
    context.EFlags &= ~0x100u;
    context.Eip = reinterpret_cast<DWORD>(stub);
}

/* Gives context the floating-point state of a call: no exception flag
 * and no pending x87 exception (a thread resumed with the pending one would
 * raise it again at its next waiting x87 instruction), and an empty x87
 * register stack (the calling convention's at every call; a fault in the
 * middle of a calculation leaves values there that no landing pad knows
 * of). The SSE unit's flags are sticky: the platform takes a later fault's
 * code from them, so they go too. The context holds the x87 state twice:
 * in the x87 unit's own save format, and in the FXSAVE image of the
 * extended registers, with the SSE state. */
inline void ClearFloatingPointFaults(CONTEXT& context)
{
    const WORD kStatusFaults = 0x80FF;   /* busy, summary, stack fault and the six flags */
    context.FloatSave.StatusWord &= ~static_cast<DWORD>(kStatusFaults);
    context.FloatSave.TagWord |= 0xFFFF;   /* two bits a register, 11 for empty */
    unsigned char* image = context.ExtendedRegisters;
    WORD status;
    memcpy(&status, image + 2, sizeof status);
    status &= ~kStatusFaults;
    memcpy(image + 2, &status, sizeof status);
    image[4] = 0;                          /* the abridged tags: every register empty */
    DWORD mxcsr;
    memcpy(&mxcsr, image + 24, sizeof mxcsr);
    mxcsr &= ~0x3Fu;
    memcpy(image + 24, &mxcsr, sizeof mxcsr);
}

/* GCC's C++ personality routine, as the shared C++ runtime exports it. */
const char kCxxPersonality[] = "__gxx_personality_v0";

/* Whether the catch handler that took exception ran in a frame below the
 * stack pointer throwFrom, which a throw from there leaves. GCC's unwinder
 * keeps in the exception's second private word the frame its handler was
 * found in, by that frame's canonical frame address: the stack pointer of
 * its caller, which for the deepest frame left is throwFrom itself. */
inline bool HandlerFrameLeft(const _Unwind_Exception& exception, DWORD_PTR throwFrom)
{
    return exception.private_2 <= throwFrom;
}

/* The import-table slot that an import thunk (jmp *slot) jumps through, or
 * none for other code. The slot's address stands in the instruction. */
inline const void* const* ImportSlot(const unsigned char* code)
{
    if (code[0] != 0xFF || code[1] != 0x25)
        return nullptr;
    DWORD slot;
    memcpy(&slot, code + 2, sizeof slot);
    return reinterpret_cast<const void* const*>(static_cast<DWORD_PTR>(slot));
}

}  // namespace arch
}  // namespace tk

#endif
