/* NameFrame against addr2line -f -i -C, over addresses inside every
 * function of libstdc++-6.dll and of this very program: function names,
 * inline chains, files and lines. Binutils' answers were written at build
 * time on the build host (addr2line_answers.cmake). Where addr2line is
 * wrong, a named rule excuses the difference, on evidence of the build
 * host's nm and objdump, and counts it; any other difference fails. */
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "debuginfo/pe_image.h"
#include "sourceline/mapped_file.h"
#include "sourceline/symbol_lookup.h"
#include "support/paths.h"

namespace {

struct Call {
    std::string function, file;
    unsigned line;
};

struct Answer {
    uint64_t address;
    std::vector<Call> calls;
};

/* A row of objdump's decoding: the file's last part and the line; line 0
 * for a sequence's end. */
struct Row {
    uint64_t address;
    std::string file;
    unsigned line;
};

/* addr2line's blocks: an address line, then a function line and a place
 * line ("file:line", "??:0", "file:line (discriminator 2)") per call. */
std::vector<Answer> ReadAnswers(const std::string& path)
{
    std::vector<Answer> answers;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (text.compare(0, 2, "0x") == 0) {
            answers.push_back(Answer{ std::stoull(text, nullptr, 16), {} });
            continue;
        }
        std::string place;
        if (answers.empty() || !std::getline(in, place))
            break;
        const size_t discriminator = place.find(" (discriminator");
        if (discriminator != std::string::npos)
            place.resize(discriminator);
        const size_t colon = place.rfind(':');
        Call call = { text == "??" ? "" : text, place.substr(0, colon), 0 };
        const std::string line = colon == std::string::npos ? "" : place.substr(colon + 1);
        call.line = line.empty() || line == "?" ? 0 : static_cast<unsigned>(std::stoul(line));
        if (call.file == "??")
            call.file.clear();
        answers.back().calls.push_back(call);
    }
    return answers;
}

/* Per address, the symbols at the start of the code it lies in. */
std::map<uint64_t, std::vector<std::string>> ReadSymbols(const std::string& path)
{
    std::map<uint64_t, std::vector<std::string>> symbols;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        std::string address, name;
        fields >> address;
        std::vector<std::string>& names = symbols[std::stoull(address, nullptr, 16)];
        while (fields >> name)
            names.push_back(name);
    }
    return symbols;
}

/* objdump --dwarf=decodedline: "name line 0xaddress [view] [x]", a line
 * of "-" at a sequence's end; sorted by address, rows of one address in
 * their order. */
std::vector<Row> ReadRows(const std::string& path)
{
    std::vector<Row> rows;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        std::string file, line, address;
        if (!(fields >> file >> line >> address) || address.compare(0, 2, "0x") != 0 ||
            (line != "-" && line.find_first_not_of("0123456789") != std::string::npos))
            continue;
        const Row row = { std::stoull(address, nullptr, 16), file,
                          line == "-" ? 0u : static_cast<unsigned>(std::stoul(line)) };
        /* A row that its sequence's end follows at once holds no byte. */
        if (row.line == 0 && !rows.empty() && rows.back().address == row.address)
            rows.back().line = 0;
        rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.address < b.address; });
    return rows;
}

std::string LastPathPart(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

/* The name without its parameter list and the qualifiers after it, for
 * the names addr2line prints without: "a::f(int) const" gives "a::f". */
std::string WithoutParameters(const std::string& name)
{
    size_t end = name.size();
    for (const char* qualifier : { " const", " volatile", " &&", " &" })
        for (size_t n = strlen(qualifier); end >= n && name.compare(end - n, n, qualifier) == 0;)
            end -= n;
    if (end == 0 || name[end - 1] != ')')
        return name;
    int depth = 0;
    for (size_t i = end; i-- > 0;) {
        depth += name[i] == ')' ? 1 : name[i] == '(' ? -1 : 0;
        if (depth == 0)
            return name.substr(0, i);
    }
    return name;
}

/* The last part of a qualified name, outside template arguments and
 * parameter lists. */
std::string LastPart(const std::string& name)
{
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i + 1 < name.size(); ++i) {
        depth += name[i] == '<' || name[i] == '(' ? 1 : name[i] == '>' || name[i] == ')' ? -1 : 0;
        if (depth == 0 && name[i] == ':' && name[i + 1] == ':')
            start = i + 2;
    }
    return name.substr(start);
}

/* Our name as addr2line prints a name of its kind: without parameters
 * where it gives none (a name from DW_AT_name), and without scopes where
 * it gives none (an inlined call's). */
std::string AsTheyPrint(const std::string& ours, const std::string& theirs)
{
    std::string name = theirs.find('(') == std::string::npos ? WithoutParameters(ours) : ours;
    return LastPart(theirs) == theirs ? LastPart(name) : name;
}

/* A name without a 32-bit calling convention's mark: "@name@8" and
 * "name@8" are "name". */
std::string WithoutMark(const std::string& name)
{
    const size_t at = name.find_last_of('@');
    if (at == std::string::npos || at == 0 || at + 1 == name.size() ||
        name.find_first_not_of("0123456789", at + 1) != std::string::npos)
        return name;
    return name.substr(name[0] == '@' ? 1 : 0, name[0] == '@' ? at - 1 : at);
}

std::string Demangled(std::string symbol, bool underscored)
{
    if (underscored && !symbol.empty() && symbol[0] == '_')
        symbol.erase(0, 1);
    symbol = WithoutMark(symbol);
    int status = 0;
    char* name = symbol.compare(0, 2, "_Z") == 0 ? abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status)
                                                 : nullptr;
    const std::string result = name && status == 0 ? name : symbol;
    free(name);
    return result;
}

/* The rules by which a difference is addr2line's error; an address is
 * counted under each rule that excused a difference of its calls. */
enum Rule {
    kUnderscoreStripped,
    kMarkKept,
    kDoubledDirectory,
    kFileZero,
    kNoFunctionFromSymbols,
    kFileWithoutLine,
    kRules
};
const char* const kRuleNames[] = {
    "addr2line strips the 32-bit target's leading underscore from DWARF names too, and then cannot demangle them",
    "addr2line keeps a 32-bit calling convention's mark (name@12), which is no part of the name",
    "addr2line joins a relative directory to itself (dir/dir/file)",
    "addr2line names the unit's own file where a DWARF 5 row keeps the initial file register, 1 "
    "(objdump's decoding names our file)",
    "addr2line gives ?? where no DWARF function holds the address (nm's symbol there is our name)",
    "addr2line gives a file at line 0 where no line row holds the address (a COFF .file symbol's guess)",
};
const unsigned kUnexplained = 1u << kRules;

class Agreement : public ::testing::Test {
protected:
    static HMODULE WINAPI NoLibrary(LPCSTR)
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }

    struct Evidence {
        std::map<uint64_t, std::vector<std::string>> symbols;
        std::vector<Row> rows;
        bool underscored;   /* a 32-bit image's C names start with '_' */
    };

    /* The row that holds address, as objdump decoded it: the last at the
     * nearest address at or below it that is a row of bytes; null at no
     * row. */
    static const Row* RowAt(const Evidence& evidence, uint64_t address)
    {
        auto at = std::upper_bound(evidence.rows.begin(), evidence.rows.end(), address,
                                   [](uint64_t value, const Row& r) { return value < r.address; });
        if (at == evidence.rows.begin())
            return nullptr;
        const uint64_t nearest = at[-1].address;
        for (; at != evidence.rows.begin() && at[-1].address == nearest; --at)
            if (at[-1].line != 0)
                return &at[-1];
        return nullptr;
    }

    /* The rules that excuse the differences at call i, as bits; with
     * kUnexplained when one is left. ours is our name as given, function
     * as addr2line would print it. */
    static unsigned Judge(const Evidence& evidence, uint64_t address, size_t i, const std::string& ours,
                          const std::string& function, const std::string& file, unsigned line, const Call& given)
    {
        unsigned rules = 0;
        Call theirs = given;
        if (evidence.underscored && WithoutMark(given.function) != given.function) {
            theirs.function = WithoutMark(given.function);
            rules |= 1u << kMarkKept;
        }
        if (function != theirs.function && evidence.underscored && !theirs.function.empty() &&
            (Demangled("_" + theirs.function, false) == ours ||
             AsTheyPrint(ours, "_" + theirs.function) == "_" + theirs.function)) {
            rules |= 1u << kUnderscoreStripped;
        } else if (function != theirs.function) {
            const auto symbols = evidence.symbols.find(address);
            bool named = false;
            for (size_t s = 0; symbols != evidence.symbols.end() && s < symbols->second.size(); ++s)
                named = named || ours == Demangled(symbols->second[s], evidence.underscored);
            rules |= i == 0 && theirs.function.empty() && named ? 1u << kNoFunctionFromSymbols : kUnexplained;
        }
        if (file == theirs.file && line == theirs.line)
            return rules;
        if (file.empty() && line == 0 && theirs.line == 0)
            return rules | 1u << kFileWithoutLine;
        const std::string directory = file.substr(0, file.find_last_of('/'));
        if (line == theirs.line && !directory.empty() && directory[0] != '/' && theirs.file == directory + "/" + file)
            return rules | 1u << kDoubledDirectory;
        const Row* row = RowAt(evidence, address);
        if (i == 0 && line == theirs.line && row && row->line == line && row->file == LastPathPart(file))
            return rules | 1u << kFileZero;
        return rules | kUnexplained;
    }

    /* Compares every answer of the module; fails on a difference that no
     * rule excuses, naming a few. */
    void Compare(const char* moduleName, const std::string& answersName)
    {
        const std::string answers = tktest::ProgramDirectory() + answersName;
        const std::vector<Answer> expected = ReadAnswers(answers);
        ASSERT_GT(expected.size(), 100u) << answers;
        HMODULE module = GetModuleHandleA(moduleName);
        ASSERT_NE(module, nullptr);
        char path[MAX_PATH];
        GetModuleFileNameA(module, path, MAX_PATH);
        tk::MappedFile file;
        tk::PeImage image;
        ASSERT_TRUE(file.Open(path) && tk::ReadPeImage(file.Bytes(), &image));
        const uint64_t delta = reinterpret_cast<uint64_t>(module) - image.imageBase;
        const Evidence evidence = { ReadSymbols(answers + ".symbols"), ReadRows(answers + ".lines"),
                                    image.headers.machine == 0x14c };
        ASSERT_FALSE(evidence.rows.empty());

        tk::SymbolLookupPlatform platform = tk::kSystemSymbolLookupPlatform;
        platform.loadLibrary = NoLibrary;
        tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), platform);
        tk::CSymbolLookup lookup;
        int counts[kRules] = {};
        int calls = 0, inlined = 0, agreed = 0, sameLines = 0, unexplainedCount = 0;
        std::string unexplained;
        for (const Answer& answer : expected) {
            tk::FrameNames names;
            lookup.NameFrame(static_cast<DWORD_PTR>(answer.address + delta), &names);
            /* addr2line prints ?? and ??:0 for an address it knows nothing of. */
            const bool nothing = answer.calls.size() == 1 && answer.calls[0].function.empty() &&
                answer.calls[0].file.empty();
            unsigned rules = 0;
            if (static_cast<size_t>(names.count) != answer.calls.size() && !(nothing && names.count == 0))
                rules = kUnexplained;
            for (size_t i = 0; !rules && i < answer.calls.size() && i < size_t(names.count); ++i) {
                const tk::CallName& ours = names.calls[i];
                const Call& theirs = answer.calls[i];
                const std::string name = ours.function ? ours.function : "";
                rules |= Judge(evidence, answer.address, i, name, name.empty() ? "" : AsTheyPrint(name, theirs.function),
                               ours.file ? ours.file : "", ours.line, theirs);
            }
            for (int rule = 0; rule < kRules; ++rule)
                counts[rule] += (rules >> rule) & 1;
            bool lines = static_cast<size_t>(names.count) == answer.calls.size();
            for (size_t i = 0; lines && i < answer.calls.size(); ++i)
                lines = names.calls[i].line == answer.calls[i].line;
            sameLines += lines;
            agreed += rules == 0;
            calls += static_cast<int>(answer.calls.size());
            inlined += answer.calls.size() > 1;
            if ((rules & kUnexplained) && ++unexplainedCount <= 10) {
                char text[64];
                snprintf(text, sizeof text, "\n0x%llx: ours", static_cast<unsigned long long>(answer.address));
                unexplained += text;
                for (int i = 0; i < names.count; ++i)
                    unexplained += std::string(" [") + (names.calls[i].function ? names.calls[i].function : "??") +
                        " " + (names.calls[i].file ? names.calls[i].file : "??") + ":" +
                        std::to_string(names.calls[i].line) + "]";
                unexplained += "; theirs";
                for (const Call& c : answer.calls)
                    unexplained += " [" + c.function + " " + c.file + ":" + std::to_string(c.line) + "]";
            }
        }
        printf("%s: %zu addresses, %d calls, %d addresses with inlined calls, %d with every line the same\n",
               answersName.c_str(), expected.size(), calls, inlined, sameLines);
        printf("  %6d agreed\n", agreed);
        for (int rule = 0; rule < kRules; ++rule)
            printf("  %6d %s\n", counts[rule], kRuleNames[rule]);
        EXPECT_EQ(unexplainedCount, 0) << unexplained;
        EXPECT_GT(sameLines, static_cast<int>(expected.size()) / 2) << "a comparison of something";
        lookup.ReleaseModules();
    }
};

TEST_F(Agreement, OnEveryFunctionOfTheCxxRuntime) { Compare("libstdc++-6.dll", "libstdc++-6.dll.addr2line"); }

TEST_F(Agreement, OnEveryFunctionOfThisProgram)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    Compare(nullptr, LastPathPart(path) + ".addr2line");
}

}  // namespace
