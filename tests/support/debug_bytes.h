/* debug_bytes.h -- writes the debug sections and PE files that the
 * source-line reader's tests feed it: line-table units of every version,
 * compilation units, and PE files with long section names. */
#ifndef TOOLS_TESTS_SUPPORT_DEBUG_BYTES_H
#define TOOLS_TESTS_SUPPORT_DEBUG_BYTES_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/byte_writer.h"

namespace tktest {

/* Opcodes of a line program, for a unit with the usual line base -5,
 * line range 14 and opcode base 13. */
struct Program : Out {
    Program& Address(uint64_t a, size_t size = 8) { U8(0).Uleb(1 + size).U8(2).N(a, size); return *this; }
    Program& End() { U8(0).Uleb(1).U8(1); return *this; }
    Program& Copy() { U8(1); return *this; }
    Program& Pc(uint64_t n) { U8(2).Uleb(n); return *this; }
    Program& Line(int64_t n) { U8(3).Sleb(n); return *this; }
    Program& File(uint64_t n) { U8(4).Uleb(n); return *this; }
    Program& ConstAddPc() { U8(8); return *this; }
    Program& FixedPc(uint16_t n) { U8(9).U16(n); return *this; }
    /* A row after advancing the address by 0 to 17 and the line by -5
     * to 8. */
    Program& Special(unsigned address, int line) { U8(13 + (line + 5) + 14 * address); return *this; }
    Program& Raw(const Bytes& bytes) { Add(bytes); return *this; }
};

/* One line-table unit; Encode works out its lengths. */
struct LineUnitBytes {
    unsigned version = 4;
    bool wide = false;
    unsigned minInstruction = 1, maxOperations = 1, lineRange = 14, opcodeBase = 13;
    int lineBase = -5;
    Bytes tables;      /* the directory and file tables, as the version writes them */
    Program program;

    Bytes Encode() const
    {
        static const unsigned char kLengths[] = { 0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1 };
        Out header;
        header.U8(minInstruction);
        if (version >= 4)
            header.U8(maxOperations);
        header.U8(1).U8(static_cast<uint8_t>(lineBase)).U8(lineRange).U8(opcodeBase);
        for (unsigned op = 1; op < opcodeBase; ++op)
            header.U8(op <= 12 ? kLengths[op - 1] : 1);
        header.Add(tables);
        Out body;
        body.U16(version);
        if (version >= 5)
            body.U8(8).U8(0);
        body.N(header.b.size(), wide ? 8 : 4).Add(header.b).Add(program.b);
        Out unit;
        if (wide)
            unit.U32(0xFFFFFFFF).U64(body.b.size());
        else
            unit.U32(body.b.size());
        return unit.Add(body.b).b;
    }
};

/* Version 2 to 4 tables: directory texts, then files with their
 * directory's number. */
struct OldFile {
    const char* name;
    unsigned directory;
};
inline Bytes OldTables(const std::vector<const char*>& directories, const std::vector<OldFile>& files)
{
    Out out;
    for (const char* d : directories)
        out.Text(d);
    out.U8(0);
    for (const OldFile& f : files)
        out.Text(f.name).Uleb(f.directory).Uleb(0).Uleb(0);
    return out.U8(0).b;
}

/* Version 5 tables whose paths lie in .debug_line_str (offsets of 4 or 8
 * bytes, appended to lineStr), files with a directory number. */
inline Bytes NewTables(const std::vector<const char*>& directories, const std::vector<OldFile>& files, Bytes& lineStr,
                       bool wide = false)
{
    const uint64_t kPath = 1, kDirectory = 2, kLineStrp = 0x1f, kUdata = 0x0f;
    Out out;
    out.U8(1).Uleb(kPath).Uleb(kLineStrp).Uleb(directories.size());
    auto text = [&](const char* s) {
        out.N(lineStr.size(), wide ? 8 : 4);
        lineStr.insert(lineStr.end(), s, s + strlen(s) + 1);
    };
    for (const char* d : directories)
        text(d);
    out.U8(2).Uleb(kPath).Uleb(kLineStrp).Uleb(kDirectory).Uleb(kUdata).Uleb(files.size());
    for (const OldFile& f : files) {
        text(f.name);
        out.Uleb(f.directory);
    }
    return out.b;
}

/* A PE file: headers, section table, each section's data, then the COFF
 * string table that long names ("/4") point into. The optional header
 * lists directories (RVA and size) by their number, from 0. */
struct PeSection {
    std::string name;   /* up to 8 bytes, or "/offset" */
    Bytes data;
    uint32_t claimed;   /* bytes the header claims beyond the data */
};
struct PeDirectory {
    uint32_t rva, size;
};
inline Bytes PeFile(bool plus, uint64_t imageBase, const std::vector<PeSection>& sections, const Bytes& strings,
                    const std::vector<PeDirectory>& directories = {})
{
    const uint32_t kHeaders = 0x40;
    const uint32_t optionalSize = plus ? 240 : 224;
    const uint32_t tableAt = kHeaders + 24 + optionalSize;
    uint32_t dataAt = tableAt + 40 * static_cast<uint32_t>(sections.size());
    Out out;
    out.U16(0x5A4D);
    out.b.resize(0x3C);
    out.U32(kHeaders).U32(0x00004550).U16(plus ? 0x8664 : 0x14C).U16(sections.size()).U32(0x5EED1234);
    uint32_t symbolsAt = dataAt;
    for (const PeSection& s : sections)
        symbolsAt += s.data.size();
    out.U32(strings.empty() ? 0 : symbolsAt).U32(0).U16(optionalSize).U16(0);
    Out optional;
    optional.U16(plus ? 0x20b : 0x10b);
    optional.b.resize(plus ? 24 : 28);
    optional.N(imageBase, plus ? 8 : 4);
    optional.b.resize(56);
    optional.U32(0x9000);
    optional.b.resize(plus ? 108 : 92);
    optional.U32(directories.size());
    for (const PeDirectory& d : directories)
        optional.U32(d.rva).U32(d.size);
    optional.b.resize(optionalSize);
    out.Add(optional.b);
    for (const PeSection& s : sections) {
        Bytes name(8, 0);
        memcpy(name.data(), s.name.data(), s.name.size() < 8 ? s.name.size() : 8);
        const uint32_t size = static_cast<uint32_t>(s.data.size()) + s.claimed;
        out.Add(name).U32(size).U32(0x1000).U32(size).U32(dataAt);
        out.b.resize(out.b.size() + 16);
        dataAt += s.data.size();
    }
    for (const PeSection& s : sections)
        out.Add(s.data);
    if (!strings.empty())
        out.U32(strings.size() + 4).Add(strings);
    return out.b;
}

}  // namespace tktest

#endif
