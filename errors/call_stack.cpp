/* call_stack.cpp -- the text of where an exception arose. */
#include "tools/runtime.h"
#include "sourceline/lookup_lock.h"
#include "errors/stack_text.h"
#include "sourceline/symbol_lookup.h"

int CException::GetCallStack(char* buffer, unsigned long size) const
{
    tk::StackText text(buffer, size);
    const tk::LookupLock lock;
    tk::CSymbolLookup& lookup = tk::SymbolLookup();
    const tk::CSymbolLookup::StackScope scope(lookup);
    for (unsigned i = 0; i < m_nStackFrames; ++i) {
        const DWORD_PTR address = reinterpret_cast<DWORD_PTR>(m_StackFrames[i]);
        /* A return address follows its call, whose line is the one wanted;
         * the instruction after a call may even belong to the next line or
         * function. */
        const DWORD_PTR at = i == 0 && m_bFaultingFrame ? address : address - 1;
        tk::FrameNames names;
        lookup.NameFrame(at, &names);
        if (!text.AddFrame(address, names))
            break;
    }
    return text.Length();
}
