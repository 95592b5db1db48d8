/* dwarf_form.h -- the debug sections of a module, and the attribute forms
 * by which line tables and compilation units encode their values. */
#ifndef TOOLS_DEBUGINFO_DWARF_FORM_H
#define TOOLS_DEBUGINFO_DWARF_FORM_H

#include <stdint.h>

#include "debuginfo/dwarf_bytes.h"

namespace tk {

/* The sections the readers read; any of them may be empty. */
struct DebugSections {
    ByteRange line;        /* .debug_line */
    ByteRange lineStr;     /* .debug_line_str: texts of version 5 line tables */
    ByteRange str;         /* .debug_str */
    ByteRange info;        /* .debug_info: units and their entries */
    ByteRange abbrev;      /* .debug_abbrev */
    ByteRange aranges;     /* .debug_aranges: which unit holds an address */
    ByteRange ranges;      /* .debug_ranges: address ranges before version 5 */
    ByteRange rnglists;    /* .debug_rnglists: version 5 range lists */
    ByteRange addr;        /* .debug_addr: addresses by index */
    ByteRange strOffsets;  /* .debug_str_offsets: texts by index */
};

/* What the size of a form's value depends on. */
struct FormContext {
    unsigned version;       /* of the unit that holds the value */
    unsigned addressSize;
    bool wide;              /* 64-bit DWARF: offsets of 8 bytes */
};

/* An attribute's value, sorted by what it may be used for. */
struct FormValue {
    enum Kind : unsigned char {
        kAbsent,          /* no such attribute, or a form no reader uses */
        kConstant,        /* data, udata, sdata (its bits), flag, implicit_const */
        kAddress,         /* addr */
        kAddressIndex,    /* addrx: an index into the unit's part of .debug_addr */
        kText,            /* string, strp, line_strp: text, null when it does not end inside its section */
        kTextIndex,       /* strx: an index into the unit's part of .debug_str_offsets */
        kUnitReference,   /* ref1 to ref8, ref_udata: an offset from the unit's start */
        kInfoReference,   /* ref_addr: an offset into .debug_info */
        kSectionOffset,   /* sec_offset */
        kListIndex,       /* rnglistx, loclistx: an index into the unit's offset table */
    };
    Kind kind;
    uint64_t value;
    const char* text;
};

/* Reads a value of form (implicitConst is the abbreviation's constant for
 * implicit_const) into value. False, with the reader failed, when the value
 * cannot be read or the form is unknown; a known form of no use to the
 * readers is read over and gives kAbsent. */
bool ReadFormValue(ByteReader& reader, uint64_t form, int64_t implicitConst, const FormContext& context,
                   const DebugSections& sections, FormValue* value);

/* Steps over a value of form. False (and the reader failed) for a form
 * that this reader does not know, whose size therefore cannot be told. */
bool SkipForm(ByteReader& reader, uint64_t form, const FormContext& context);

/* A text of form string, strp or line_strp, checked to end inside its
 * section. Null for other forms, a bad offset or a text that runs off its
 * section; the reader fails only when the value itself cannot be read. */
const char* ReadFormText(ByteReader& reader, uint64_t form, const FormContext& context,
                         const DebugSections& sections);

/* An unsigned number of form data1, data2, data4, data8, udata or
 * sec_offset; false for other forms (which are skipped). */
bool ReadFormNumber(ByteReader& reader, uint64_t form, const FormContext& context, uint64_t* value);

/* The text at offset of a string section, or null when it does not end
 * inside the section. */
const char* SectionText(ByteRange section, uint64_t offset);

}  // namespace tk

#endif
