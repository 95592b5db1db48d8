/* dwarf_form.cpp -- the sizes and values of attribute forms. */
#include "debuginfo/dwarf_form.h"

namespace tk {

namespace {

enum Form : uint64_t {
    kAddr = 0x01, kBlock2 = 0x03, kBlock4 = 0x04, kData2 = 0x05, kData4 = 0x06, kData8 = 0x07,
    kString = 0x08, kBlock = 0x09, kBlock1 = 0x0a, kData1 = 0x0b, kFlag = 0x0c, kSdata = 0x0d,
    kStrp = 0x0e, kUdata = 0x0f, kRefAddr = 0x10, kRef1 = 0x11, kRef2 = 0x12, kRef4 = 0x13,
    kRef8 = 0x14, kRefUdata = 0x15, kIndirect = 0x16, kSecOffset = 0x17, kExprloc = 0x18,
    kFlagPresent = 0x19, kStrx = 0x1a, kAddrx = 0x1b, kRefSup4 = 0x1c, kStrpSup = 0x1d,
    kData16 = 0x1e, kLineStrp = 0x1f, kRefSig8 = 0x20, kImplicitConst = 0x21, kLoclistx = 0x22,
    kRnglistx = 0x23, kRefSup8 = 0x24, kStrx1 = 0x25, kStrx2 = 0x26, kStrx3 = 0x27, kStrx4 = 0x28,
    kAddrx1 = 0x29, kAddrx2 = 0x2a, kAddrx3 = 0x2b, kAddrx4 = 0x2c,
    kGnuAddrIndex = 0x1f01, kGnuStrIndex = 0x1f02, kGnuRefAlt = 0x1f20, kGnuStrpAlt = 0x1f21,
};

/* The fixed size of form's value: 0 for none, -1 when it is not fixed or
 * the form is unknown. */
int FixedSize(uint64_t form, const FormContext& context)
{
    const int offset = context.wide ? 8 : 4;
    switch (form) {
    case kFlagPresent: case kImplicitConst: return 0;
    case kData1: case kRef1: case kFlag: case kStrx1: case kAddrx1: return 1;
    case kData2: case kRef2: case kStrx2: case kAddrx2: return 2;
    case kStrx3: case kAddrx3: return 3;
    case kData4: case kRef4: case kRefSup4: case kStrx4: case kAddrx4: return 4;
    case kData8: case kRef8: case kRefSig8: case kRefSup8: return 8;
    case kData16: return 16;
    case kAddr: return static_cast<int>(context.addressSize);
    case kStrp: case kLineStrp: case kSecOffset: case kStrpSup: case kGnuRefAlt: case kGnuStrpAlt: return offset;
    /* Version 2 wrote references to other units with the address's size. */
    case kRefAddr: return context.version <= 2 ? static_cast<int>(context.addressSize) : offset;
    default: return -1;
    }
}

/* The form that an indirect form names in the data; one that names
 * itself again and again would never end, and fails the reader. */
uint64_t DirectForm(ByteReader& reader, uint64_t form)
{
    for (int hops = 0; form == kIndirect; ++hops) {
        form = reader.Uleb();
        if (hops == 4 || reader.Failed())
            return reader.Fail();
    }
    return form;
}

/* An index or reference of fixed size, or else an unsigned LEB128. */
uint64_t IndexValue(ByteReader& reader, uint64_t form, const FormContext& context)
{
    const int fixed = FixedSize(form, context);
    return fixed > 0 ? reader.Unsigned(static_cast<size_t>(fixed)) : reader.Uleb();
}

}  // namespace

const char* SectionText(ByteRange section, uint64_t offset)
{
    if (offset >= section.size)
        return nullptr;
    ByteReader reader(section, offset);
    return reader.Text();
}

bool SkipForm(ByteReader& reader, uint64_t form, const FormContext& context)
{
    form = DirectForm(reader, form);
    if (reader.Failed())
        return false;
    const int fixed = FixedSize(form, context);
    if (fixed >= 0) {
        reader.Skip(static_cast<uint64_t>(fixed));
        return !reader.Failed();
    }
    switch (form) {
    case kString: reader.Text(); break;
    case kSdata: reader.Sleb(); break;
    case kUdata: case kRefUdata: case kStrx: case kAddrx: case kLoclistx: case kRnglistx:
    case kGnuAddrIndex: case kGnuStrIndex:
        reader.Uleb();
        break;
    case kBlock: case kExprloc: reader.Skip(reader.Uleb()); break;
    case kBlock1: reader.Skip(reader.U8()); break;
    case kBlock2: reader.Skip(reader.U16()); break;
    case kBlock4: reader.Skip(reader.U32()); break;
    default:
        reader.Fail();
        return false;
    }
    return !reader.Failed();
}

const char* ReadFormText(ByteReader& reader, uint64_t form, const FormContext& context,
                         const DebugSections& sections)
{
    switch (form) {
    case kString:
        return reader.Text();
    case kStrp: {
        const uint64_t offset = reader.Offset(context.wide);
        return reader.Failed() ? nullptr : SectionText(sections.str, offset);
    }
    case kLineStrp: {
        const uint64_t offset = reader.Offset(context.wide);
        return reader.Failed() ? nullptr : SectionText(sections.lineStr, offset);
    }
    default:
        SkipForm(reader, form, context);
        return nullptr;
    }
}

bool ReadFormValue(ByteReader& reader, uint64_t form, int64_t implicitConst, const FormContext& context,
                   const DebugSections& sections, FormValue* value)
{
    *value = FormValue{ FormValue::kAbsent, 0, nullptr };
    form = DirectForm(reader, form);
    FormValue::Kind kind = FormValue::kAbsent;
    uint64_t number = 0;
    switch (form) {
    case kData1: case kData2: case kData4: case kData8: case kFlag: case kUdata: case kSdata:
    case kFlagPresent:
        kind = FormValue::kConstant;
        number = form == kSdata ? static_cast<uint64_t>(reader.Sleb())
            : form == kUdata ? reader.Uleb()
            : form == kFlagPresent ? 1
            : reader.Unsigned(static_cast<size_t>(FixedSize(form, context)));
        break;
    case kImplicitConst:
        kind = FormValue::kConstant;
        number = static_cast<uint64_t>(implicitConst);
        break;
    case kAddr:
        kind = FormValue::kAddress;
        if (context.addressSize == 0 || context.addressSize > 8)
            return reader.Fail();
        number = reader.Unsigned(context.addressSize);
        break;
    case kAddrx: case kAddrx1: case kAddrx2: case kAddrx3: case kAddrx4: case kGnuAddrIndex:
        kind = FormValue::kAddressIndex;
        number = IndexValue(reader, form, context);
        break;
    case kString: case kStrp: case kLineStrp:
        value->text = ReadFormText(reader, form, context, sections);
        kind = FormValue::kText;
        break;
    case kStrx: case kStrx1: case kStrx2: case kStrx3: case kStrx4: case kGnuStrIndex:
        kind = FormValue::kTextIndex;
        number = IndexValue(reader, form, context);
        break;
    case kRef1: case kRef2: case kRef4: case kRef8: case kRefUdata:
        kind = FormValue::kUnitReference;
        number = IndexValue(reader, form, context);
        break;
    case kRefAddr:
        kind = FormValue::kInfoReference;
        number = reader.Unsigned(static_cast<size_t>(FixedSize(form, context)));
        break;
    case kSecOffset:
        kind = FormValue::kSectionOffset;
        number = reader.Offset(context.wide);
        break;
    case kRnglistx: case kLoclistx:
        kind = FormValue::kListIndex;
        number = reader.Uleb();
        break;
    default:
        return SkipForm(reader, form, context);
    }
    if (reader.Failed())
        return false;
    value->kind = kind;
    value->value = number;
    return true;
}

bool ReadFormNumber(ByteReader& reader, uint64_t form, const FormContext& context, uint64_t* value)
{
    switch (form) {
    case kData1: *value = reader.U8(); break;
    case kData2: *value = reader.U16(); break;
    case kData4: *value = reader.U32(); break;
    case kData8: *value = reader.U64(); break;
    case kUdata: *value = reader.Uleb(); break;
    case kSecOffset: *value = reader.Offset(context.wide); break;
    default:
        SkipForm(reader, form, context);
        return false;
    }
    return !reader.Failed();
}

}  // namespace tk
