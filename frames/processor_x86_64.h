/* processor_x86_64.h -- what the fault translator needs to know of a
 * 64-bit x86 processor. The i686 twin of this file has the same
 * names; frames/processor.h picks the target's. */
#ifndef TOOLS_FRAMES_PROCESSOR_X86_64_H
#define TOOLS_FRAMES_PROCESSOR_X86_64_H

#include <string.h>
#include <unwind.h>
#include <windows.h>

/* The stub enters tk_RaiseTranslated through a call from a 16-byte aligned
 * frame, as the calling convention wants. */
#define TK_STUB_TARGET_ALIGNMENT

namespace tk {
namespace arch {

inline DWORD_PTR ProgramCounter(const CONTEXT& context) { return context.Rip; }
inline DWORD_PTR StackPointer(const CONTEXT& context) { return context.Rsp; }
inline void SetProgramCounter(CONTEXT& context, DWORD_PTR at) { context.Rip = at; }
inline void SetStackPointer(CONTEXT& context, DWORD_PTR at) { context.Rsp = at; }

/* The lookup of the unwind information that covers a code address. */
typedef PRUNTIME_FUNCTION (NTAPI* FindFrameFn)(DWORD64 pc, PDWORD64 base, PUNWIND_HISTORY_TABLE history);

/* Resumes the thread at stub, with every other register as it was but
 * the trap flag: a single step's context still has it set, and the stub
 * would trap again at its first instruction. */
inline void ResumeAt(CONTEXT& context, void (*stub)())
{
    context.EFlags &= ~0x100u;
    context.Rip = reinterpret_cast<DWORD64>(stub);
}

/* Gives context the floating-point state of a call: no exception flag
 * and no pending x87 exception (a thread resumed with the pending one would
 * raise it again at its next waiting x87 instruction), and an empty x87
 * register stack (the calling convention's at every call; a fault in the
 * middle of a calculation leaves values there that no landing pad knows
 * of). The SSE unit's flags are sticky: the platform takes a later fault's
 * code from them, so they go too. */
inline void ClearFloatingPointFaults(CONTEXT& context)
{
    context.FltSave.StatusWord &= ~0x80FF;   /* busy, summary, stack fault and the six flags */
    context.FltSave.TagWord = 0;             /* the abridged tags: every register empty */
    context.FltSave.MxCsr &= ~0x3Fu;
    context.MxCsr &= ~0x3Fu;
}

/* GCC's C++ personality routine, as the shared C++ runtime exports it. */
const char kCxxPersonality[] = "__gxx_personality_seh0";
/* GCC's C personality routine, as the shared unwinder exports it. */
const char kUnwinderDll[] = "libgcc_s_seh-1.dll";
const char kCPersonality[] = "__gcc_personality_seh0";

/* Whether the catch handler that took exception ran in a frame below the
 * stack pointer throwFrom, which a throw from there leaves. GCC's unwinder
 * keeps in the exception's second private word the establisher frame of
 * the frame its handler was found in, which lies inside that frame: below
 * throwFrom for a frame left, at or above it for the frame that throws. */
inline bool HandlerFrameLeft(const _Unwind_Exception& exception, DWORD_PTR throwFrom)
{
    return exception.private_[1] < throwFrom;
}

/* The import-table slot that an import thunk (jmp *slot(%rip)) jumps
 * through, or none for other code. The slot lies relative to the next
 * instruction. */
inline const void* const* ImportSlot(const unsigned char* code)
{
    if (code[0] != 0xFF || code[1] != 0x25)
        return nullptr;
    int displacement;
    memcpy(&displacement, code + 2, sizeof displacement);
    return reinterpret_cast<const void* const*>(code + 6 + displacement);
}

}  // namespace arch
}  // namespace tk

#endif
