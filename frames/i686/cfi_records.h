/* cfi_records.h (i686) -- the common information entries of DWARF call-frame
 * tables, as GCC writes them into .eh_frame, read within their own bounds:
 * by the frame stepping at the time of a fault, and by the index of the
 * tables outside faults. */
#ifndef TOOLS_FRAMES_I686_CFI_RECORDS_H
#define TOOLS_FRAMES_I686_CFI_RECORDS_H

#include <windows.h>

namespace tk {

struct Cie {
    DWORD_PTR codeAlign;
    LONG_PTR dataAlign;
    int returnColumn;
    unsigned char fdeEncoding;
    unsigned char lsdaEncoding;
    bool hasAugmentationData;   /* the augmentation starts with 'z': each FDE has a block of its own */
    bool hasLsda;
    DWORD_PTR personality;
    const unsigned char* instructions;
    const unsigned char* end;
};

/* Reads the CIE at cie (its length field), which must end by limit; false
 * for one that overruns it, or that holds an augmentation or an encoding
 * that GCC's unwinder would not read either. */
bool ParseCie(const unsigned char* cie, const unsigned char* limit, Cie* out);

/* Whether a LEB128 number at p ends before limit. */
bool LebFits(const unsigned char* p, const unsigned char* limit);

/* Whether a pointer in encoding at p, which must be one that ReadEncoded
 * reads and no indirect one, ends before limit. */
bool EncodedFits(const unsigned char* p, const unsigned char* limit, unsigned char encoding);

}  // namespace tk

#endif
