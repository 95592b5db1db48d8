/* fault_location.cpp -- the source file and line of a fault. */
#include "errors/fault_location.h"

namespace tk {

void LocateFault(CException& e, CSymbolLookup& lookup, FileNames& names)
{
    const EXCEPTION_RECORD* record = e.m_pExceptionPointers ? e.m_pExceptionPointers->ExceptionRecord : nullptr;
    if (!record)
        return;
    /* Every lookup starts the engine afresh, so it sees modules loaded since
     * the last start. */
    lookup.Stop();
    lookup.Start();
    const SourceLine found = lookup.FindLine(reinterpret_cast<DWORD_PTR>(record->ExceptionAddress));
    switch (found.outcome) {
    case SourceLine::kFound: {
        const char* file = names.LastingCopy(found.file);
        if (file)
            e.Locate(file, static_cast<int>(found.line));
        else
            e.Locate(nullptr, -1);
        break;
    }
    case SourceLine::kNotFound:
        if (found.hr != 0)
            e.Locate(nullptr, -1);
        break;
    case SourceLine::kUnavailable:
        e.Locate(nullptr, -1);
        break;
    }
}

}  // namespace tk
