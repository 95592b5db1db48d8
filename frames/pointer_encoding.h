/* pointer_encoding.h -- the numbers and pointers of the tables that GCC
 * writes for its unwinder and personality routine: call-frame records and
 * exception tables alike, read as both read them. */
#ifndef TOOLS_FRAMES_POINTER_ENCODING_H
#define TOOLS_FRAMES_POINTER_ENCODING_H

#include <string.h>
#include <windows.h>

namespace tk {

/* A value of type T at p, which exception and frame tables do not align. */
template <typename T>
T LoadUnaligned(const unsigned char* p)
{
    T value;
    memcpy(&value, p, sizeof value);
    return value;
}

/* The encoding that says a pointer is left out. */
const unsigned char kOmittedPointer = 0xFF;

/* Reads one DWARF-encoded pointer (the DW_EH_PE_* encodings of exception
 * tables: absptr, udata2/4/8, sdata2/4/8, uleb128, sleb128, plain or
 * pc-relative, direct or indirect) at *p and moves *p past it. false for
 * an encoding it does not read (text-, data- or function-relative,
 * aligned). */
bool ReadEncoded(const unsigned char** p, unsigned char encoding, DWORD_PTR* value);

/* The bytes of one pointer in the given encoding; 0 for a variable-length
 * one. */
size_t EncodedSize(unsigned char encoding);

/* Unsigned and signed LEB128 numbers. */
DWORD_PTR ReadUleb(const unsigned char** p);
LONG_PTR ReadSleb(const unsigned char** p);

}  // namespace tk

#endif
