/* frame_names.h -- the functions, files and lines that one code address
 * of a call stack stands for: the function compiled there and the calls
 * inlined into it, innermost first, as CSymbolLookup::NameFrame gives
 * them. */
#ifndef TOOLS_SOURCELINE_FRAME_NAMES_H
#define TOOLS_SOURCELINE_FRAME_NAMES_H

#include <windows.h>

namespace tk {

/* The most calls that one code address stands for: the function compiled
 * there and the calls inlined into it. In GCC 12's libstdc++-6.dll (-O2)
 * one address stands for up to 18 on both targets; room is left for
 * deeper template code. An address that stands for more keeps the
 * innermost ones. */
const int kMostCallsAtAddress = 24;

struct CallName {
    const char* function;   /* demangled C++ name with scopes; with parameter
                             * types where the linkage name gives them; null
                             * when unknown */
    const char* file;       /* as the compiler recorded it; null when unknown */
    DWORD line;             /* 0 when unknown */
};

struct FrameNames {
    const char* module;     /* path of the module file that holds the address;
                             * null when no module does */
    int count;              /* calls named; 0 when nothing is known */
    CallName calls[kMostCallsAtAddress];
    /* calls[0] is the innermost: the inlined call where the address lies,
     * with the address's own file and line from the line table; each next
     * one is the function that the previous was inlined into, with the file
     * and line of that inlined call (DW_AT_call_file / DW_AT_call_line);
     * calls[count - 1] is the function that was actually compiled, unless
     * the address stands for more than kMostCallsAtAddress calls. Without
     * inlining, count is 1. */
};

}  // namespace tk

#endif
