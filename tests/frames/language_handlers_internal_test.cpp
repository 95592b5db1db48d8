/* The x86_64 walk's judgement of the exception handlers that unwind
 * information names, bytes in and answer out: which never take a fault. */
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "frames/x86_64/language_handlers.h"
#include "support/byte_writer.h"

namespace {

using tktest::Bytes;
using tktest::Out;

/* sub rsp, 40; mov r8, [r9+56]; the moves of a row; call; then the row's
 * ending. */
const Bytes kPrologue = { 0x48, 0x83, 0xEC, 0x28, 0x4D, 0x8B, 0x41, 0x38 };
const Bytes kCall = { 0xE8, 0x10, 0x20, 0x00, 0x00 };
const Bytes kContinueSearch = { 0xB8, 0x01, 0x00, 0x00, 0x00 };
const Bytes kEpilogue = { 0x48, 0x83, 0xC4, 0x28, 0xC3 };
/* mov rcx, rdx and mov rdx, r9 as GCC's assembler and as the platform
 * compiler encode them. */
const Bytes kMovesStored = { 0x48, 0x89, 0xD1, 0x4C, 0x89, 0xCA };
const Bytes kMovesLoaded = { 0x48, 0x8B, 0xCA, 0x49, 0x8B, 0xD1 };

Bytes Code(std::vector<Bytes> parts)
{
    Out out;
    for (const Bytes& part : parts)
        out.Add(part);
    return out.b;
}

TEST(LanguageHandlers, TellsAHandlerThatOnlyChecksItsFrame)
{
    const struct {
        const char* what;
        Bytes code;
        bool onlyChecks;
    } rows[] = {
        { "the check's shape", Code({ kPrologue, kMovesStored, kCall, kContinueSearch, kEpilogue }), true },
        { "its moves encoded the other way", Code({ kPrologue, kMovesLoaded, kCall, kContinueSearch, kEpilogue }),
          true },
        { "answering what the check answers", Code({ kPrologue, kMovesStored, kCall, kEpilogue }), false },
        { "answering \"go on at the fault\"",
          Code({ kPrologue, kMovesStored, kCall, { 0xB8, 0x00, 0x00, 0x00, 0x00 }, kEpilogue }), false },
        { "another frame size on the way out",
          Code({ kPrologue, kMovesStored, kCall, kContinueSearch, { 0x48, 0x83, 0xC4, 0x38, 0xC3 } }), false },
        { "more moves than arguments",
          Code({ kPrologue, kMovesStored, kMovesStored, kCall, kContinueSearch, kEpilogue }), false },
        { "a load through an index register",
          Code({ { 0x48, 0x83, 0xEC, 0x28, 0x4A, 0x8B, 0x44, 0x08, 0x38 }, kCall, kContinueSearch, kEpilogue }),
          false },
        { "code cut short", Code({ kPrologue, kMovesStored, kCall, kContinueSearch }), false },
    };
    for (const auto& row : rows)
        EXPECT_EQ(tk::OnlyChecksFrame(row.code.data(), row.code.size()), row.onlyChecks) << row.what;
}

/* A scope table: its count, then begin, end, handler and target of each
 * scope (0: a __finally). */
Bytes Scopes(std::vector<std::vector<DWORD>> scopes)
{
    Out out;
    out.U32(scopes.size());
    for (const auto& scope : scopes)
        for (DWORD v : scope)
            out.U32(v);
    return out.b;
}

TEST(LanguageHandlers, ReadsTheStructuredHandlersScopeTable)
{
    const struct {
        const char* what;
        Bytes table;
        DWORD pc;
        bool filters;
    } rows[] = {
        { "no scope", Scopes({}), 0x1010, false },
        { "a __finally around pc", Scopes({ { 0x1000, 0x1020, 0x2000, 0 } }), 0x1010, false },
        { "an __except around pc", Scopes({ { 0x1000, 0x1020, 0x2000, 0x1030 } }), 0x1010, true },
        { "an __except from pc on", Scopes({ { 0x1010, 0x1020, 0x2000, 0x1030 } }), 0x1010, true },
        { "an __except that ends at pc", Scopes({ { 0x1000, 0x1010, 0x2000, 0x1030 } }), 0x1010, false },
        { "a __finally inside an __except",
          Scopes({ { 0x1008, 0x1018, 0x2000, 0 }, { 0x1000, 0x1020, 0x2010, 0x1030 } }), 0x1010, true },
        { "more scopes than a function has", Out().U32(0x10000).b, 0x1010, true },
    };
    for (const auto& row : rows)
        EXPECT_EQ(tk::ScopeFiltersAt(row.table.data(), row.pc), row.filters) << row.what;

    /* The same tables through the system's structured handler, and GCC's C
     * personality routine, which passes every fault on. */
    tk::LearnLanguageHandlers();
    const void* structured = reinterpret_cast<const void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "__C_specific_handler"));
    const void* gcc = reinterpret_cast<const void*>(
        GetProcAddress(GetModuleHandleA("libgcc_s_seh-1.dll"), "__gcc_personality_seh0"));
    ASSERT_NE(structured, nullptr);
    ASSERT_NE(gcc, nullptr);
    const DWORD64 base = 0x140000000;
    EXPECT_FALSE(tk::MayTakeFault(structured, rows[1].table.data(), base, base + 0x1010));
    EXPECT_TRUE(tk::MayTakeFault(structured, rows[2].table.data(), base, base + 0x1010));
    EXPECT_FALSE(tk::MayTakeFault(gcc, nullptr, base, base + 0x1010));
}

}  // namespace
