/* frame_names.cpp -- the functions, files and lines that one code address
 * of a call stack stands for. */
#include <string.h>

#include "base/last_error.h"
#include "sourceline/symbol_lookup.h"

namespace tk {

namespace {

const WORD kI386 = 0x14c;
/* The longest name asked of the debug-help library; longer ones are cut. */
const ULONG kLongestSymbol = 1024;

}  // namespace

int CSymbolLookup::NameFromDwarf(ModuleCache::View& view, int* functions, int* files, DWORD* lines)
{
    if (!modules_.Names(view))
        return 0;
    const SymbolLookupPlatform& platform = SymbolLookupSeam().Calls();
    NameIndex& index = view.module->names;
    NameIndex::Call calls[kMostCallsAtAddress];
    uint64_t unit = 0;
    const int count = index.Calls(view.sections, view.rva, calls, kMostCallsAtAddress, &unit);
    char name[4096];
    for (int i = 0; i < count; ++i) {
        switch (index.FunctionName(view.sections, calls[i].entry, name, sizeof name)) {
        case NameIndex::kLinkageName: functions[i] = texts_.AddDemangled(name, platform.reallocate); break;
        case NameIndex::kPlainName: functions[i] = texts_.Add(name, platform.reallocate); break;
        case NameIndex::kNoName: break;
        }
        /* Each inlined call's own place is a line of the function it was
         * inlined into: the next one out. */
        if (i > 0 && calls[i - 1].callLine &&
            index.CallFile(view.sections, unit, calls[i - 1].callFile, path_, sizeof path_)) {
            files[i] = texts_.Add(path_, platform.reallocate);
            lines[i] = calls[i - 1].callLine;
        }
    }
    return count;
}

int CSymbolLookup::NameFromSymbols(ModuleCache::View& view, DWORD_PTR address)
{
    const SymbolLookupPlatform& platform = SymbolLookupSeam().Calls();
    const CoffSymbols* symbols = modules_.Symbols(view);
    const char* symbol = symbols ? symbols->Find(view.rva) : nullptr;
    if (symbol) {
        /* A 32-bit image's symbols carry the leading underscore of C names. */
        if (view.headers.machine == kI386 && symbol[0] == '_')
            ++symbol;
        return texts_.AddDemangled(symbol, platform.reallocate);
    }
    const ExportNames* exports = modules_.Exports(view);
    const char* exported = exports ? exports->Find(view.image, view.headers, view.rva) : nullptr;
    if (exported)
        return texts_.AddDemangled(exported, platform.reallocate);
    return NameFromDebugHelp(address);
}

int CSymbolLookup::NameFromDebugHelp(DWORD_PTR address)
{
    if (!library_.Valid())
        return -1;
    const SymbolLookupPlatform& platform = SymbolLookupSeam().Calls();
    if (!fromAddressSought_) {
        fromAddress_ = reinterpret_cast<FromAddressFn>(
            reinterpret_cast<void*>(platform.getProcAddress(library_.Get(), "SymFromAddr")));
        fromAddressSought_ = true;
    }
    if (!fromAddress_)
        return -1;
    union {
        SYMBOL_INFO info;
        char bytes[sizeof(SYMBOL_INFO) + kLongestSymbol];
    } symbol;
    memset(&symbol, 0, sizeof symbol);
    symbol.info.SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol.info.MaxNameLen = kLongestSymbol;
    DWORD64 displacement = 0;
    /* A symbol the library made from the exports is one that the export
     * table gave already, or rightly did not. */
    if (!fromAddress_(process_, address, &displacement, &symbol.info) || (symbol.info.Flags & SYMFLAG_EXPORT) ||
        !symbol.info.Name[0])
        return -1;
    symbol.bytes[sizeof symbol.bytes - 1] = '\0';
    return texts_.Add(symbol.info.Name, platform.reallocate);
}

bool CSymbolLookup::NameFrame(DWORD_PTR address, FrameNames* names)
{
    const LastErrorKeeper keep;
    memset(names, 0, sizeof *names);
    texts_.Reset();
    if (!Started() && !modulesOnly_)
        Start();
    ModuleCache::View view;
    if (!modules_.Open(address, &view))
        return false;
    const SymbolLookupPlatform& platform = SymbolLookupSeam().Calls();
    const int module = view.module->path[0] ? texts_.Add(view.module->path, platform.reallocate) : -1;
    int functions[kMostCallsAtAddress], files[kMostCallsAtAddress];
    DWORD lines[kMostCallsAtAddress] = {};
    for (int i = 0; i < kMostCallsAtAddress; ++i)
        functions[i] = files[i] = -1;

    int count = NameFromDwarf(view, functions, files, lines);
    unsigned line = 0;
    if (view.module->lines.Find(view.sections, view.rva, path_, sizeof path_, &line)) {
        files[0] = texts_.Add(path_, platform.reallocate);
        lines[0] = line;
    } else {
        const SourceLine helped = AskDebugHelp(address);
        if (helped.outcome == SourceLine::kFound) {
            files[0] = texts_.Add(helped.file, platform.reallocate);
            lines[0] = helped.line;
        }
    }
    if (count == 0) {
        functions[0] = NameFromSymbols(view, address);
        count = functions[0] >= 0 || lines[0] ? 1 : 0;
    }

    names->module = texts_.At(module);
    names->count = count;
    for (int i = 0; i < count; ++i)
        names->calls[i] = CallName{ texts_.At(functions[i]), texts_.At(files[i]), files[i] >= 0 ? lines[i] : 0 };
    return count > 0;
}

}  // namespace tk
