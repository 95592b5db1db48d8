/* arch.h (x86_64) -- what the fault translator and the source-line lookup
 * need to know of a 64-bit x86 processor. The i686 twin of this file has
 * the same names; CMake puts the target's folder on the include path. */
#ifndef TOOLS_RUNTIME_ARCH_H
#define TOOLS_RUNTIME_ARCH_H

#include <windows.h>
#include <imagehlp.h>

/* The stub enters tk_RaiseTranslated through a call from a 16-byte aligned
 * frame, as the calling convention wants. */
#define TK_STUB_TARGET_ALIGNMENT

namespace tk {
namespace arch {

inline DWORD_PTR ProgramCounter(const CONTEXT& context) { return context.Rip; }

/* Resumes the thread at stub, with every other register as it was. */
inline void ResumeAt(CONTEXT& context, void (*stub)())
{
    context.Rip = reinterpret_cast<DWORD64>(stub);
}

/* The debug-help library's line query of this target: images load above
 * 4 GiB, so only the 64-bit entry point and record can name their
 * addresses. */
typedef IMAGEHLP_LINE64 SymbolLine;
typedef DWORD64 SymbolAddress;
typedef BOOL (WINAPI* GetLineFn)(HANDLE process, SymbolAddress address, PDWORD displacement, SymbolLine* line);
typedef SymbolAddress (WINAPI* LoadModuleFn)(HANDLE process, HANDLE file, PCSTR image, PCSTR module,
                                             SymbolAddress base, DWORD size);
typedef BOOL (WINAPI* UnloadModuleFn)(HANDLE process, SymbolAddress base);
const char kLoadModuleEntryPoint[] = "SymLoadModule64";
const char kUnloadModuleEntryPoint[] = "SymUnloadModule64";
const char kGetLineEntryPoint[] = "SymGetLineFromAddr64";

/* The walk over the frames of a faulting thread (frames.cpp). */
struct FrameFacts {
    const unsigned char* lsda;   /* the frame's GCC C++ exception table, or none */
    DWORD_PTR regionStart;       /* the address its call sites count from */
};

/* Finds GCC's C++ personality routine, by which frames with C++ exception
 * tables are told from others. */
void LearnPersonality();

/* Tells what is known of the frame whose registers context holds (its
 * program counter is the faulting instruction when first, else a return
 * address), and steps context to the frame's caller. false when the frame
 * cannot be unwound soundly. */
bool StepFrame(CONTEXT& context, bool first, FrameFacts* facts);

}  // namespace arch
}  // namespace tk

#endif
