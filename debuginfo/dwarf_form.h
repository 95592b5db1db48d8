/* dwarf_form.h -- the debug sections of a module, and the attribute forms
 * by which line tables and compilation units encode their values. */
#ifndef TOOLS_DEBUGINFO_DWARF_FORM_H
#define TOOLS_DEBUGINFO_DWARF_FORM_H

#include <stdint.h>

#include "debuginfo/dwarf_bytes.h"

namespace tk {

/* The sections the source-line reader reads; any of them may be empty. */
struct DebugSections {
    ByteRange line;      /* .debug_line */
    ByteRange lineStr;   /* .debug_line_str: texts of version 5 line tables */
    ByteRange str;       /* .debug_str */
    ByteRange info;      /* .debug_info: the compilation directory of older tables */
    ByteRange abbrev;    /* .debug_abbrev */
};

/* What the size of a form's value depends on. */
struct FormContext {
    unsigned version;       /* of the unit that holds the value */
    unsigned addressSize;
    bool wide;              /* 64-bit DWARF: offsets of 8 bytes */
};

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
