/* arch.h (i686) -- what the fault translator and the source-line lookup
 * need to know of a 32-bit x86 processor. The x86_64 twin of this file has
 * the same names; CMake puts the target's folder on the include path. */
#ifndef TOOLS_RUNTIME_ARCH_H
#define TOOLS_RUNTIME_ARCH_H

#include <string.h>
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

/* GCC's C++ personality routine, as the shared C++ runtime exports it. */
const char kCxxPersonality[] = "__gxx_personality_v0";

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
