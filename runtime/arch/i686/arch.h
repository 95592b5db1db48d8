/* arch.h (i686) -- what the fault translator and the source-line lookup
 * need to know of a 32-bit x86 processor. The x86_64 twin of this file has
 * the same names; CMake puts the target's folder on the include path. */
#ifndef TOOLS_RUNTIME_ARCH_H
#define TOOLS_RUNTIME_ARCH_H

#include <windows.h>
#include <imagehlp.h>

/* The stub enters tk_RaiseTranslated with whatever 4-byte alignment the
 * faulting code had; the function realigns its own frame. */
#define TK_STUB_TARGET_ALIGNMENT __attribute__((force_align_arg_pointer))

namespace tk {
namespace arch {

inline DWORD_PTR ProgramCounter(const CONTEXT& context) { return context.Eip; }

/* Resumes the thread at stub, with every other register as it was. */
inline void ResumeAt(CONTEXT& context, void (*stub)())
{
    context.Eip = reinterpret_cast<DWORD>(stub);
}

/* The debug-help library's line query of this target: the 32-bit entry
 * point and its 20-byte record. */
typedef IMAGEHLP_LINE SymbolLine;
typedef DWORD SymbolAddress;
typedef BOOL (WINAPI* GetLineFn)(HANDLE process, SymbolAddress address, PDWORD displacement, SymbolLine* line);
typedef SymbolAddress (WINAPI* LoadModuleFn)(HANDLE process, HANDLE file, PCSTR image, PCSTR module,
                                             SymbolAddress base, DWORD size);
typedef BOOL (WINAPI* UnloadModuleFn)(HANDLE process, SymbolAddress base);
const char kLoadModuleEntryPoint[] = "SymLoadModule";
const char kUnloadModuleEntryPoint[] = "SymUnloadModule";
const char kGetLineEntryPoint[] = "SymGetLineFromAddr";
static_assert(sizeof(SymbolLine) == 20, "the debug-help library takes the 32-bit line record");

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
