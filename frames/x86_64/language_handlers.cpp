/* language_handlers.cpp (x86_64) -- telling the exception handlers that
 * never take a fault from those that may, by the routine's address (the
 * routines that DLLs export under their own names), by its scope table,
 * or by the code of the routine itself. */
#include <string.h>

#include "frames/frame_walk.h"
#include "frames/processor.h"
#include "frames/x86_64/language_handlers.h"

namespace tk {

namespace {

/* GCC's runtime passes every exception of another kind on, in both phases
 * (libgcc's _GCC_specific_handler): a fault goes by its C personality's
 * frames, whose cleanups run as a translated fault's throw unwinds them. */
const void* volatile g_cPersonality;

/* The C runtime's structured handler, which the system, the C runtimes
 * and the code that other compilers build for __try name in their
 * frames. */
const char* const kStructuredHandlerModules[] = { "ntdll.dll", "msvcrt.dll", "ucrtbase.dll", "vcruntime140.dll" };
const void* volatile g_structuredHandlers[sizeof kStructuredHandlerModules / sizeof *kStructuredHandlerModules];

/* More scopes than a function has; a table that claims more is not read. */
const DWORD kMostScopes = 1024;

const void* Exported(const char* module, const char* name)
{
    HMODULE loaded = GetModuleHandleA(module);
    return loaded ? reinterpret_cast<const void*>(GetProcAddress(loaded, name)) : nullptr;
}

bool IsStructuredHandler(const void* routine)
{
    for (const void* known : g_structuredHandlers)
        if (known && routine == known)
            return true;
    return false;
}

/* The bytes of one move between 64-bit registers, or of a load from a
 * register plus an 8-bit displacement (what passes a handler's arguments
 * on), at code; 0 for anything else. */
size_t MoveLength(const unsigned char* code)
{
    const unsigned char rex = code[0], op = code[1], modrm = code[2];
    if ((rex & 0xFA) != 0x48 || (op != 0x89 && op != 0x8B))
        return 0;
    if ((modrm & 0xC0) == 0xC0)
        return 3;
    if ((modrm & 0xC0) == 0x40 && (modrm & 7) != 4)
        return 4;
    return 0;
}

}  // namespace

void LearnLanguageHandlers()
{
    g_cPersonality = Exported(arch::kUnwinderDll, arch::kCPersonality);
    for (size_t i = 0; i < sizeof kStructuredHandlerModules / sizeof *kStructuredHandlerModules; ++i)
        g_structuredHandlers[i] = Exported(kStructuredHandlerModules[i], "__C_specific_handler");
}

bool OnlyChecksFrame(const unsigned char* code, size_t count)
{
    /* sub rsp, n; the moves; call; mov eax, 1 (ExceptionContinueSearch);
     * add rsp, n; ret. The check it calls ends the process when it finds
     * the frame overrun, and otherwise returns. */
    const unsigned char kSub[] = { 0x48, 0x83, 0xEC }, kAdd[] = { 0x48, 0x83, 0xC4 };
    const unsigned char kContinueSearch[] = { 0xB8, 0x01, 0x00, 0x00, 0x00 };
    const size_t kMostMoves = 4;
    if (count < 4 || memcmp(code, kSub, 3))
        return false;
    const unsigned char frame = code[3];
    size_t at = 4;
    for (size_t moves = 0; moves < kMostMoves && at + 3 <= count; ++moves) {
        const size_t length = MoveLength(code + at);
        if (!length)
            break;
        at += length;
    }
    return at + 5 + 5 + 4 + 1 <= count && code[at] == 0xE8 && !memcmp(code + at + 5, kContinueSearch, 5) &&
        !memcmp(code + at + 10, kAdd, 3) && code[at + 13] == frame && code[at + 14] == 0xC3;
}

bool ScopeFiltersAt(const unsigned char* table, DWORD pc)
{
    DWORD count;
    memcpy(&count, table, sizeof count);
    if (count > kMostScopes)
        return true;
    for (DWORD i = 0; i < count; ++i) {
        DWORD scope[4];
        memcpy(scope, table + 4 + 16 * i, sizeof scope);
        if (pc >= scope[0] && pc < scope[1] && scope[3])
            return true;
    }
    return false;
}

bool MayTakeFault(const void* handler, const void* data, DWORD64 imageBase, DWORD64 pc)
{
    const void* routine = ThroughImportThunk(handler);
    if (g_cPersonality && routine == g_cPersonality)
        return false;
    if (IsStructuredHandler(routine))
        return !data || ScopeFiltersAt(static_cast<const unsigned char*>(data), static_cast<DWORD>(pc - imageBase));
    /* The shape is at most 4 + 4 * 4 + 15 bytes long. */
    return !OnlyChecksFrame(static_cast<const unsigned char*>(routine), 35);
}

}  // namespace tk
