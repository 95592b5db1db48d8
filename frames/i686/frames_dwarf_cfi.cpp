/* frames_dwarf_cfi.cpp (i686) -- stepping a faulting thread's frames with the DWARF
 * call-frame information that GCC's unwinder itself uses: the frame
 * description entries that each module built by GCC registers with the
 * shared runtime (found in the library's own index of them,
 * frames/i686/fde_index.h), run as far as the frame's address.
 *
 * A frame without such an entry (the C runtime's, a system DLL's, code of
 * another compiler) cannot be stepped soundly, and GCC's unwinder cannot
 * pass it either: the walk ends there. So does one whose rules use DWARF
 * operations beyond the few that GCC emits for x86 frames. A frame's
 * exception handlers are the records it put on the thread's chain at
 * fs:[0]. */
#include <string.h>

#include "frames/pointer_encoding.h"
#include "frames/frame_walk.h"
#include "frames/i686/cfi_records.h"
#include "frames/i686/fde_index.h"
#include "frames/processor.h"

namespace tk {

namespace {

/* DWARF's numbers of the registers; column 8 holds the return address. */
const int kRegisters = 9;
const int kEsp = 4;
const int kReturnColumn = 8;
/* Deep enough for the saved states of any prologue GCC writes. */
const int kStates = 8;

enum class Rule : unsigned char { kSame, kUndefined, kAt, kValue, kRegister, kAtExpression, kValueExpression };

struct RegisterRule {
    Rule rule;
    LONG_PTR offset;                  /* kAt, kValue */
    int reg;                          /* kRegister */
    const unsigned char* expression;  /* the expressions' blocks */
};

struct Rules {
    int cfaRegister;
    LONG_PTR cfaOffset;
    const unsigned char* cfaExpression;   /* non-null: the CFA is computed */
    RegisterRule regs[kRegisters];
};

DWORD* Slot(CONTEXT& c, int reg)
{
    switch (reg) {
    case 0: return &c.Eax;
    case 1: return &c.Ecx;
    case 2: return &c.Edx;
    case 3: return &c.Ebx;
    case 4: return &c.Esp;
    case 5: return &c.Ebp;
    case 6: return &c.Esi;
    case 7: return &c.Edi;
    case 8: return &c.Eip;
    }
    return nullptr;
}

bool OnStack(DWORD_PTR address) { return OnThreadStack(address, sizeof(DWORD)); }

/* Runs call-frame instructions up to the address target (location counts
 * from start); false for one it does not know. */
bool Run(const unsigned char* p, const unsigned char* end, const Cie& cie, DWORD_PTR start, DWORD_PTR target,
         const Rules& initial, Rules* rules)
{
    Rules saved[kStates];
    int depth = 0;
    DWORD_PTR location = start;
    while (p < end && location <= target) {
        const unsigned char op = *p++;
        const unsigned char low = op & 0x3F;
        switch (op & 0xC0) {
        case 0x40: location += low * cie.codeAlign; continue;   /* advance_loc */
        case 0x80:                                              /* offset */
            if (low < kRegisters)
                rules->regs[low] = { Rule::kAt, static_cast<LONG_PTR>(ReadUleb(&p)) * cie.dataAlign, 0, nullptr };
            else
                ReadUleb(&p);
            continue;
        case 0xC0:                                              /* restore */
            if (low < kRegisters)
                rules->regs[low] = initial.regs[low];
            continue;
        }
        DWORD_PTR reg, value;
        switch (op) {
        case 0x00: break;                                                        /* nop */
        case 0x01: if (!ReadEncoded(&p, cie.fdeEncoding, &location)) return false; break;
        case 0x02: location += *p++ * cie.codeAlign; break;
        case 0x03: location += (p[0] | p[1] << 8) * cie.codeAlign; p += 2; break;
        case 0x04: location += LoadUnaligned<DWORD>(p) * cie.codeAlign; p += 4; break;
        case 0x05:                                                               /* offset_extended */
            reg = ReadUleb(&p);
            value = ReadUleb(&p);
            if (reg < kRegisters)
                rules->regs[reg] = { Rule::kAt, static_cast<LONG_PTR>(value) * cie.dataAlign, 0, nullptr };
            break;
        case 0x06:                                                               /* restore_extended */
            reg = ReadUleb(&p);
            if (reg < kRegisters)
                rules->regs[reg] = initial.regs[reg];
            break;
        case 0x07: case 0x08:                                                    /* undefined, same_value */
            reg = ReadUleb(&p);
            if (reg < kRegisters)
                rules->regs[reg].rule = op == 0x07 ? Rule::kUndefined : Rule::kSame;
            break;
        case 0x09:                                                               /* register */
            reg = ReadUleb(&p);
            value = ReadUleb(&p);
            if (reg < kRegisters)
                rules->regs[reg] = { Rule::kRegister, 0, static_cast<int>(value), nullptr };
            break;
        case 0x0A:                                                               /* remember_state */
            if (depth == kStates)
                return false;
            saved[depth++] = *rules;
            break;
        case 0x0B:                                                               /* restore_state */
            if (!depth)
                return false;
            *rules = saved[--depth];
            break;
        case 0x0C:                                                               /* def_cfa */
            rules->cfaRegister = static_cast<int>(ReadUleb(&p));
            rules->cfaOffset = static_cast<LONG_PTR>(ReadUleb(&p));
            rules->cfaExpression = nullptr;
            break;
        case 0x0D: rules->cfaRegister = static_cast<int>(ReadUleb(&p)); rules->cfaExpression = nullptr; break;
        case 0x0E: rules->cfaOffset = static_cast<LONG_PTR>(ReadUleb(&p)); break;
        case 0x0F:                                                               /* def_cfa_expression */
            rules->cfaExpression = p;
            value = ReadUleb(&p);
            p += value;
            break;
        case 0x10: case 0x16:                                                    /* expression, val_expression */
            reg = ReadUleb(&p);
            {
                const unsigned char* block = p;
                value = ReadUleb(&p);
                p += value;
                if (reg < kRegisters)
                    rules->regs[reg] = { op == 0x10 ? Rule::kAtExpression : Rule::kValueExpression, 0, 0, block };
            }
            break;
        case 0x11: case 0x14: case 0x15: {                                       /* offset_extended_sf, val_offset(_sf) */
            reg = ReadUleb(&p);
            const LONG_PTR factored = op == 0x14 ? static_cast<LONG_PTR>(ReadUleb(&p)) : ReadSleb(&p);
            if (reg < kRegisters)
                rules->regs[reg] = { op == 0x11 ? Rule::kAt : Rule::kValue, factored * cie.dataAlign, 0, nullptr };
            break;
        }
        case 0x12:                                                               /* def_cfa_sf */
            rules->cfaRegister = static_cast<int>(ReadUleb(&p));
            rules->cfaOffset = ReadSleb(&p) * cie.dataAlign;
            rules->cfaExpression = nullptr;
            break;
        case 0x13: rules->cfaOffset = ReadSleb(&p) * cie.dataAlign; break;      /* def_cfa_offset_sf */
        case 0x2E: ReadUleb(&p); break;                                          /* GNU_args_size */
        case 0x2F:                                                               /* GNU_negative_offset_extended */
            reg = ReadUleb(&p);
            value = ReadUleb(&p);
            if (reg < kRegisters)
                rules->regs[reg] = { Rule::kAt, -static_cast<LONG_PTR>(value) * cie.dataAlign, 0, nullptr };
            break;
        default:
            return false;
        }
    }
    return true;
}

/* Evaluates a DWARF expression block of the kinds GCC writes into x86
 * frame rules: a register plus an offset, constants, additions and loads
 * from the stack. */
bool Evaluate(const unsigned char* block, const CONTEXT& c, DWORD_PTR pushed, bool push, DWORD_PTR* result)
{
    const unsigned char* p = block;
    const DWORD_PTR length = ReadUleb(&p);
    const unsigned char* end = p + length;
    DWORD_PTR stack[16];
    int top = 0;
    if (push)
        stack[top++] = pushed;
    while (p < end) {
        const unsigned char op = *p++;
        if (top == 16)
            return false;
        if (op >= 0x70 && op <= 0x77) {                      /* breg0..7 */
            stack[top++] = *Slot(const_cast<CONTEXT&>(c), op - 0x70) + static_cast<DWORD_PTR>(ReadSleb(&p));
        } else if (op >= 0x30 && op <= 0x4F) {              /* lit0..31 */
            stack[top++] = op - 0x30;
        } else if (op == 0x06) {                             /* deref */
            if (!top || !OnStack(stack[top - 1]))
                return false;
            stack[top - 1] = *reinterpret_cast<const DWORD*>(stack[top - 1]);
        } else if (op == 0x23) {                             /* plus_uconst */
            if (!top)
                return false;
            stack[top - 1] += ReadUleb(&p);
        } else if (op == 0x22) {                             /* plus */
            if (top < 2)
                return false;
            stack[top - 2] += stack[top - 1];
            --top;
        } else if (op == 0x11) {                             /* consts */
            stack[top++] = static_cast<DWORD_PTR>(ReadSleb(&p));
        } else if (op == 0x10) {                             /* constu */
            stack[top++] = ReadUleb(&p);
        } else {
            return false;
        }
    }
    if (!top)
        return false;
    *result = stack[top - 1];
    return true;
}

}  // namespace

constexpr FrameLookupPlatform kSystemFrameLookupPlatform = { FindIndexedFde };

namespace {
Seam<FrameLookupPlatform> g_lookupSeam(kSystemFrameLookupPlatform);
}  // namespace

Seam<FrameLookupPlatform>& FrameLookupSeam() { return g_lookupSeam; }

void RefreshFrameLookup() { IndexLoadedModules(); }
void FrameLookupModuleLoaded(const void* base) { IndexNewModule(base); }
void FrameLookupModuleUnloaded(const void* base) { DropIndexedModule(base); }
void ReleaseFrameLookup() { ReleaseIndex(); }

bool HasUnwindTables(DWORD_PTR pc)
{
    dwarf_eh_bases bases = {};
    return FrameLookupSeam().Calls().find(reinterpret_cast<void*>(pc), &bases) != nullptr;
}

bool StepFrame(CONTEXT& context, bool first, FrameFacts* facts)
{
    /* The unwinder looks up the address before a return address: the call
     * instruction. */
    const DWORD_PTR pc = first ? context.Eip : context.Eip - 1;
    dwarf_eh_bases bases = {};
    const unsigned char* fde =
        static_cast<const unsigned char*>(FrameLookupSeam().Calls().find(reinterpret_cast<void*>(pc), &bases));
    if (!fde)
        return false;
    const unsigned char* cie = fde + 4 - LoadUnaligned<DWORD>(fde + 4);
    Cie info;
    /* The index read every entry it hands out, and its CIE, within the
     * module's table; a stand-in lookup's CIE ends where the FDE starts. */
    if (!ParseCie(cie, fde, &info))
        return false;
    const unsigned char* p = fde + 8;
    DWORD_PTR begin, range;
    if (!ReadEncoded(&p, info.fdeEncoding, &begin) || !ReadEncoded(&p, info.fdeEncoding & 0x0F, &range))
        return false;
    DWORD_PTR lsda = 0;
    if (info.hasAugmentationData) {
        const DWORD_PTR length = ReadUleb(&p);
        const unsigned char* data = p;
        if (info.hasLsda && !ReadEncoded(&data, info.lsdaEncoding, &lsda))
            return false;
        p += length;
    }
    const unsigned char* fdeEnd = fde + 4 + LoadUnaligned<DWORD>(fde);

    Rules initial = {};
    if (!Run(info.instructions, info.end, info, begin, ~static_cast<DWORD_PTR>(0), initial, &initial))
        return false;
    Rules rules = initial;
    if (!Run(p, fdeEnd, info, begin, pc, initial, &rules))
        return false;

    DWORD_PTR cfa;
    if (rules.cfaExpression) {
        if (!Evaluate(rules.cfaExpression, context, 0, false, &cfa))
            return false;
    } else {
        if (rules.cfaRegister < 0 || rules.cfaRegister >= kReturnColumn)
            return false;
        cfa = *Slot(context, rules.cfaRegister) + rules.cfaOffset;
    }
    /* The caller's registers, all reckoned from this frame's before any is
     * written back. */
    DWORD caller[kRegisters];
    for (int reg = 0; reg < kRegisters; ++reg) {
        const RegisterRule& r = rules.regs[reg];
        DWORD_PTR address;
        caller[reg] = *Slot(context, reg);
        switch (r.rule) {
        case Rule::kSame:
        case Rule::kUndefined:
            break;
        case Rule::kAt:
            address = cfa + r.offset;
            if (!OnStack(address))
                return false;
            caller[reg] = *reinterpret_cast<const DWORD*>(address);
            break;
        case Rule::kValue:
            caller[reg] = cfa + r.offset;
            break;
        case Rule::kRegister:
            if (r.reg < 0 || r.reg >= kRegisters)
                return false;
            caller[reg] = *Slot(context, r.reg);
            break;
        case Rule::kAtExpression:
            if (!Evaluate(r.expression, context, cfa, true, &address) || !OnStack(address))
                return false;
            caller[reg] = *reinterpret_cast<const DWORD*>(address);
            break;
        case Rule::kValueExpression:
            if (!Evaluate(r.expression, context, cfa, true, &address))
                return false;
            caller[reg] = address;
            break;
        }
    }
    if (rules.regs[kReturnColumn].rule == Rule::kUndefined)
        caller[kReturnColumn] = 0;   /* the outermost frame */
    caller[kEsp] = cfa;
    /* The frame's own stack lies from its stack pointer up to its caller's;
     * records deeper than the first frame's are the dispatcher's. */
    facts->otherHandler = HandlerRecordIn(context.Esp, cfa);
    for (int reg = 0; reg < kRegisters; ++reg)
        *Slot(context, reg) = caller[reg];

    if (lsda && IsCxxPersonality(reinterpret_cast<const void*>(info.personality))) {
        facts->lsda = reinterpret_cast<const unsigned char*>(lsda);
        facts->regionStart = reinterpret_cast<DWORD_PTR>(bases.func);
    }
    return true;
}

}  // namespace tk
