/* checksum.cpp -- Adler-32 and CRC-32, computed by zlib.
 *
 * Ours take the length as unsigned long, zlib's as unsigned int: two
 * overloads of one name, so each call below picks zlib's own function. */
#include <zlib.h>

#include "tools/util.h"

unsigned long adler32(unsigned long adler, const unsigned char* data, unsigned long length)
{
    return ::adler32(adler, data, static_cast<uInt>(length));
}

unsigned long crc32(unsigned long crc, const unsigned char* data, unsigned long length)
{
    return ::crc32(crc, data, static_cast<uInt>(length));
}
