/* dbghelp_calls.h -- the debug-help library's module and line entry points
 * at the target's width. A 64-bit process loads its images above 4 GiB,
 * which only the 64-bit entry points and records can name; a 32-bit one
 * takes the original entry points and the 20-byte line record. */
#ifndef TOOLS_SOURCELINE_DBGHELP_CALLS_H
#define TOOLS_SOURCELINE_DBGHELP_CALLS_H

#include <windows.h>
#include <imagehlp.h>

namespace tk {
namespace dbghelp {

#if defined(_WIN64)
typedef IMAGEHLP_LINE64 SymbolLine;
typedef DWORD64 SymbolAddress;
const char kLoadModuleEntryPoint[] = "SymLoadModule64";
const char kUnloadModuleEntryPoint[] = "SymUnloadModule64";
const char kGetLineEntryPoint[] = "SymGetLineFromAddr64";
#else
typedef IMAGEHLP_LINE SymbolLine;
typedef DWORD SymbolAddress;
const char kLoadModuleEntryPoint[] = "SymLoadModule";
const char kUnloadModuleEntryPoint[] = "SymUnloadModule";
const char kGetLineEntryPoint[] = "SymGetLineFromAddr";
static_assert(sizeof(SymbolLine) == 20, "the debug-help library takes the 32-bit line record");
#endif

typedef BOOL (WINAPI* GetLineFn)(HANDLE process, SymbolAddress address, PDWORD displacement, SymbolLine* line);
typedef SymbolAddress (WINAPI* LoadModuleFn)(HANDLE process, HANDLE file, PCSTR image, PCSTR module,
                                             SymbolAddress base, DWORD size);
typedef BOOL (WINAPI* UnloadModuleFn)(HANDLE process, SymbolAddress base);
/* The same on both widths. */
typedef BOOL (WINAPI* FromAddressFn)(HANDLE process, DWORD64 address, PDWORD64 displacement, PSYMBOL_INFO symbol);

}  // namespace dbghelp
}  // namespace tk

#endif
