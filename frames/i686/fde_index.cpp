/* fde_index.cpp (i686) -- the index of frame description entries.
 *
 * The index is an immutable snapshot: an array of module tables, each an
 * array of entries sorted by address, that a writer replaces as a whole.
 * Readers at the time of a fault count themselves in the current epoch's
 * reader count with an interlocked increment, counting again should the
 * epoch have moved meanwhile, before they read the snapshot's pointer; a
 * writer publishes the new snapshot, moves on to the
 * next epoch, and waits for the last epoch's readers to leave before it
 * frees what only the old snapshot held. Readers wait for nothing. */
#include <string.h>
#include <wchar.h>

#include <algorithm>

#include "base/allocation.h"
#include "frames/pointer_encoding.h"
#include "frames/i686/cfi_records.h"
#include "frames/i686/fde_index.h"

namespace tk {

namespace {

struct Entry {
    DWORD_PTR begin;
    DWORD_PTR end;
    const unsigned char* fde;
};

struct ModuleTable {
    const void* image;
    int count;
    Entry entries[1];   /* count of them, sorted by begin */
};

struct Index {
    int count;
    ModuleTable* tables[1];   /* count of them, sorted by their first entry */
};

Index* volatile g_index;
volatile LONG g_epoch;
volatile LONG g_readers[2];
/* Writers one at a time: installs on any thread, and the loader's word. */
SRWLOCK g_writer = SRWLOCK_INIT;

const char kUnwinderDll[] = "libgcc_s_dw2-1.dll";

/* An FDE is at least its length, its CIE pointer and two addresses. */
const size_t kSmallestFde = 16;

/* Reads the FDE at p, of a table that ends at end, into entry; 0 when it
 * covers no code, -1 when it does not read as an FDE. cieAt and cie keep
 * the last CIE read, which most FDEs share. */
int ReadFde(const unsigned char* table, const unsigned char* end, const unsigned char* p, const unsigned char** cieAt,
            Cie* cie, Entry* entry)
{
    const unsigned char* next = p + 4 + LoadUnaligned<DWORD>(p);
    const DWORD id = LoadUnaligned<DWORD>(p + 4);
    const unsigned char* ownCie = p + 4 - id;
    if (id > static_cast<DWORD>(p + 4 - table) || ownCie >= p)
        return -1;
    if (ownCie != *cieAt) {
        if (LoadUnaligned<DWORD>(ownCie + 4) || !ParseCie(ownCie, end, cie))
            return -1;
        *cieAt = ownCie;
    }
    const unsigned char* field = p + 8;
    DWORD_PTR begin, range;
    if (!EncodedFits(field, next, cie->fdeEncoding) || !ReadEncoded(&field, cie->fdeEncoding, &begin) ||
        !EncodedFits(field, next, cie->fdeEncoding & 0x0F) || !ReadEncoded(&field, cie->fdeEncoding & 0x0F, &range))
        return -1;
    /* A linker leaves the entries of discarded code with no address. */
    if (!begin || !range || begin + range < begin)
        return 0;
    *entry = { begin, begin + range, p };
    return 1;
}

/* The records of the call-frame tables in [table, table + size), one
 * after another: each record's start, or null past the last (at the
 * terminator or the end); -1 as the start of one that overruns the table,
 * or is 64-bit DWARF. */
const unsigned char* const kBadRecord = reinterpret_cast<const unsigned char*>(-1);

const unsigned char* NextRecord(const unsigned char* p, const unsigned char* end)
{
    if (end - p < 8 || !LoadUnaligned<DWORD>(p))
        return nullptr;
    const DWORD length = LoadUnaligned<DWORD>(p);
    return length < 4 || length > static_cast<DWORD>(end - p - 4) ? kBadRecord : p + 4 + length;
}

/* Reads the entries of the call-frame tables in [table, table + size) into
 * entries (room for size / kSmallestFde); -1 when anything in it does not
 * read as such tables. */
int ReadEntries(const unsigned char* table, size_t size, Entry* entries)
{
    const unsigned char* const end = table + size;
    const unsigned char* cieAt = nullptr;
    Cie cie = {};
    int count = 0;
    for (const unsigned char* p = table; p;) {
        const unsigned char* next = NextRecord(p, end);
        if (next == kBadRecord)
            return -1;
        if (!next)
            break;
        if (!LoadUnaligned<DWORD>(p + 4)) {
            if (!ParseCie(p, end, &cie))
                return -1;
            cieAt = p;
        } else {
            const int read = ReadFde(table, end, p, &cieAt, &cie, &entries[count]);
            if (read < 0)
                return -1;
            count += read;
        }
        p = next;
    }
    std::sort(entries, entries + count, [](const Entry& a, const Entry& b) { return a.begin < b.begin; });
    return count;
}

/* The image's section that reads as call-frame tables: GCC names it
 * .eh_frame, which in an image stands either cut to eight characters or as
 * a reference into the string table, which is not loaded. */
bool FindFrameSection(const unsigned char* image, const unsigned char** start, size_t* size)
{
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    const DWORD imageSize = nt->OptionalHeader.SizeOfImage;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const char* name = reinterpret_cast<const char*>(section->Name);
        const DWORD flags = section->Characteristics;
        if ((name[0] != '/' && strncmp(name, ".eh_fram", 8)) || !(flags & IMAGE_SCN_CNT_INITIALIZED_DATA) ||
            (flags & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_WRITE)) || section->VirtualAddress > imageSize ||
            section->Misc.VirtualSize > imageSize - section->VirtualAddress)
            continue;
        *start = image + section->VirtualAddress;
        *size = section->Misc.VirtualSize;
        return true;
    }
    return false;
}

/* Whether the image imports the shared unwinder's DLL. */
bool ImportsUnwinder(const unsigned char* image)
{
    const IMAGE_NT_HEADERS* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress)
        return false;
    const IMAGE_IMPORT_DESCRIPTOR* import =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image + directory.VirtualAddress);
    for (; import->Name; ++import)
        if (!lstrcmpiA(reinterpret_cast<const char*>(image + import->Name), kUnwinderDll))
            return true;
    return false;
}

bool Registered(const Entry& entry)
{
    dwarf_eh_bases bases;
    return _Unwind_Find_FDE(reinterpret_cast<void*>(entry.begin), &bases) == entry.fde;
}

/* Whether GCC's unwinder holds the table's last entry, which it holds when
 * it holds any: a module registers its table from the start-up object's
 * mark on, after the entries of the objects linked before it, up to the
 * table's end. Asked outside faults, where the unwinder's lock and
 * allocation do no harm; the records are only counted off to the last. */
bool LastRegistered(const unsigned char* table, size_t size)
{
    const unsigned char* const end = table + size;
    const unsigned char* last = nullptr;
    for (const unsigned char* p = table, *next; (next = NextRecord(p, end)) && next != kBadRecord; p = next)
        if (LoadUnaligned<DWORD>(p + 4))
            last = p;
    const unsigned char* cieAt = nullptr;
    Cie cie;
    Entry entry;
    return last && ReadFde(table, end, last, &cieAt, &cie, &entry) > 0 && Registered(entry);
}

/* Keeps of entries, whose last one the unwinder holds, the ones from the
 * mark on; returns their count. */
int KeepRegistered(Entry* entries, int count)
{
    std::sort(entries, entries + count, [](const Entry& a, const Entry& b) { return a.fde < b.fde; });
    int first = 0;
    while (first < count && !Registered(entries[first]))
        ++first;
    std::copy(entries + first, entries + count, entries);
    count -= first;
    std::sort(entries, entries + count, [](const Entry& a, const Entry& b) { return a.begin < b.begin; });
    return count;
}

/* The table of the image's entries, or null when it has none; of those
 * that GCC's unwinder holds when registered is set. */
ModuleTable* ReadModule(const void* image, bool registered)
{
    const unsigned char* start;
    size_t size;
    if (!FindFrameSection(static_cast<const unsigned char*>(image), &start, &size) ||
        (registered && !LastRegistered(start, size)))
        return nullptr;
    const size_t most = size / kSmallestFde + 1;
    ModuleTable* table = static_cast<ModuleTable*>(Allocate(sizeof(ModuleTable) + most * sizeof(Entry)));
    if (!table)
        return nullptr;
    table->image = image;
    table->count = ReadEntries(start, size, table->entries);
    if (registered && table->count > 0)
        table->count = KeepRegistered(table->entries, table->count);
    if (table->count <= 0) {
        Release(table);
        return nullptr;
    }
    return table;
}

Index* NewIndex(int capacity)
{
    Index* index = static_cast<Index*>(Allocate(sizeof(Index) + capacity * sizeof(ModuleTable*)));
    if (index)
        index->count = 0;
    return index;
}

bool Holds(const Index* index, const ModuleTable* table)
{
    for (int i = 0; index && i < index->count; ++i)
        if (index->tables[i] == table)
            return true;
    return false;
}

/* Puts next in place of the current index (under g_writer), waits until no
 * walk reads the old one, and frees the old index with the tables that
 * next does not hold. */
void Publish(Index* next)
{
    if (next)
        std::sort(next->tables, next->tables + next->count,
                  [](const ModuleTable* a, const ModuleTable* b) { return a->entries[0].begin < b->entries[0].begin; });
    Index* old = static_cast<Index*>(InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_index), next));
    const LONG epoch = InterlockedIncrement(&g_epoch) - 1;
    while (g_readers[epoch & 1])
        SwitchToThread();
    if (!old)
        return;
    for (int i = 0; i < old->count; ++i)
        if (!Holds(next, old->tables[i]))
            Release(old->tables[i]);
    Release(old);
}

class Writer {
public:
    Writer() { AcquireSRWLockExclusive(&g_writer); }
    ~Writer() { ReleaseSRWLockExclusive(&g_writer); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
};

/* The modules loaded now, each held loaded until FreeModules; null when
 * there is no memory to list them. They are the images mapped at the
 * start of their own reservation that the loader knows (K32EnumProcessModules
 * answers nothing for the own process in Wine). */
HMODULE* HoldLoadedModules(DWORD* count)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    DWORD capacity = 64, held = 0;
    HMODULE* modules = static_cast<HMODULE*>(Allocate(capacity * sizeof(HMODULE)));
    const unsigned char* at = static_cast<const unsigned char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (modules && at < system.lpMaximumApplicationAddress && VirtualQuery(at, &region, sizeof region)) {
        at = static_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize;
        if (region.Type != MEM_IMAGE || region.AllocationBase != region.BaseAddress)
            continue;
        if (held == capacity) {
            capacity *= 2;
            HMODULE* grown = static_cast<HMODULE*>(Reallocate(modules, capacity * sizeof(HMODULE)));
            if (!grown)
                break;
            modules = grown;
        }
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCWSTR>(region.BaseAddress),
                               &modules[held]))
            ++held;
    }
    *count = held;
    return modules;
}

void FreeModules(HMODULE* modules, DWORD count)
{
    for (DWORD i = 0; i < count; ++i)
        FreeLibrary(modules[i]);
    Release(modules);
}

}  // namespace

void IndexLoadedModules()
{
    DWORD count = 0;
    HMODULE* modules = HoldLoadedModules(&count);
    if (!modules)
        return;
    /* Read and asked about outside the writers' lock: the unwinder's own
     * lookup may wait on the loader, whose notifications take that lock. */
    ModuleTable** tables = static_cast<ModuleTable**>(Allocate(count * sizeof(ModuleTable*) + 1));
    DWORD found = 0;
    for (DWORD i = 0; tables && i < count; ++i) {
        if (ModuleTable* table = ReadModule(modules[i], true))
            tables[found++] = table;
    }
    if (tables) {
        const Writer writing;
        Index* current = g_index;
        const int kept = current ? current->count : 0;
        Index* next = NewIndex(static_cast<int>(found) + kept);
        if (next) {
            for (DWORD i = 0; i < found; ++i)
                next->tables[next->count++] = tables[i];
            /* Modules that the loader mapped since they were listed. */
            for (int i = 0; i < kept; ++i) {
                bool listed = false;
                for (DWORD j = 0; j < count && !listed; ++j)
                    listed = current->tables[i]->image == modules[j];
                if (!listed)
                    next->tables[next->count++] = current->tables[i];
            }
            Publish(next);
        } else {
            for (DWORD i = 0; i < found; ++i)
                Release(tables[i]);
        }
        Release(tables);
    }
    FreeModules(modules, count);
}

void IndexNewModule(const void* image)
{
    if (!ImportsUnwinder(static_cast<const unsigned char*>(image)))
        return;
    ModuleTable* table = ReadModule(image, false);
    if (!table)
        return;
    const Writer writing;
    Index* current = g_index;
    const int kept = current ? current->count : 0;
    Index* next = NewIndex(kept + 1);
    if (!next) {
        Release(table);
        return;
    }
    for (int i = 0; i < kept; ++i)
        if (current->tables[i]->image != image)
            next->tables[next->count++] = current->tables[i];
    next->tables[next->count++] = table;
    Publish(next);
}

void DropIndexedModule(const void* image)
{
    const Writer writing;
    Index* current = g_index;
    if (!current)
        return;
    Index* next = NewIndex(current->count);
    if (!next)
        return;
    for (int i = 0; i < current->count; ++i)
        if (current->tables[i]->image != image)
            next->tables[next->count++] = current->tables[i];
    Publish(next);
}

void ReleaseIndex()
{
    const Writer writing;
    Publish(nullptr);
}

const void* FindIndexedFde(void* pcPointer, dwarf_eh_bases* bases)
{
    const DWORD_PTR pc = reinterpret_cast<DWORD_PTR>(pcPointer);
    /* Counted under the epoch that is still current once counted: a walk
     * counted under one that a writer has since left would read an index
     * the writer after it frees without waiting for this walk. */
    LONG epoch = g_epoch;
    for (;;) {
        InterlockedIncrement(&g_readers[epoch & 1]);
        const LONG now = InterlockedCompareExchange(&g_epoch, 0, 0);
        if (now == epoch)
            break;
        InterlockedDecrement(&g_readers[epoch & 1]);
        epoch = now;
    }
    const Index* index = g_index;
    const unsigned char* found = nullptr;
    if (index) {
        /* The last table whose first entry starts at or before pc, then
         * the last entry that does. */
        const ModuleTable* const* table = std::upper_bound(
            index->tables, index->tables + index->count, pc,
            [](DWORD_PTR at, const ModuleTable* t) { return at < t->entries[0].begin; });
        if (table != index->tables) {
            const ModuleTable* module = *(table - 1);
            const Entry* entry = std::upper_bound(module->entries, module->entries + module->count, pc,
                                                  [](DWORD_PTR at, const Entry& e) { return at < e.begin; });
            if (entry != module->entries && pc < (entry - 1)->end) {
                found = (entry - 1)->fde;
                bases->tbase = nullptr;
                bases->dbase = nullptr;
                bases->func = reinterpret_cast<void*>((entry - 1)->begin);
            }
        }
    }
    InterlockedDecrement(&g_readers[epoch & 1]);
    return found;
}

int ReadFrameEntries(const unsigned char* table, size_t size, DWORD_PTR* begins, int capacity)
{
    Entry* entries = static_cast<Entry*>(Allocate((size / kSmallestFde + 1) * sizeof(Entry)));
    if (!entries)
        return -1;
    const int count = ReadEntries(table, size, entries);
    for (int i = 0; i < count && i < capacity; ++i)
        begins[i] = entries[i].begin;
    Release(entries);
    return count;
}

}  // namespace tk
