/* util.h -- checksums, the shared log file and text search. */
#ifndef TOOLS_UTIL_H
#define TOOLS_UTIL_H

#include "tools/export.h"

/* Running Adler-32 (RFC 1950) of length bytes at data, continuing from
 * adler (1 to start). A null data returns 1 whatever the other arguments;
 * a length of 0 returns adler unchanged. */
TOOLS_API unsigned long adler32(unsigned long adler, const unsigned char* data, unsigned long length);

/* Running CRC-32 (reflected polynomial 0xEDB88320, as zlib and PNG), from
 * crc (0 to start). A null data returns 0; a length of 0 returns crc. */
TOOLS_API unsigned long crc32(unsigned long crc, const unsigned char* data, unsigned long length);

/* Appends the text that format and the values after it make (printf
 * conventions) to "vq_tools.log" in the current directory, creating the
 * file when missing and opening and closing it on every call; no line end,
 * time or program name is added, and a line feed is written as carriage
 * return and line feed. At most 511 characters are written: a longer text
 * loses its end. Returns the formatter's result as an unsigned value: the
 * length of the text when it fits (a line feed counting one), 512 for
 * exactly 512 characters, 0xFFFFFFFF for more. A file that cannot be opened
 * (a directory of that name, a file another program holds without sharing,
 * a directory without write access) is no failure: nothing is written and
 * the result is the same. A null format writes nothing and returns 0. */
TOOLS_API unsigned long TkLog(const char* format, ...);

/* The first place in text where key starts, compared without regard to
 * case and stepping over double-byte characters of the current code page;
 * text itself when key is empty or absent, so that the result is always
 * printable. A null text or key returns text. */
TOOLS_API const char* TkStrStr(const char* text, const char* key);

#endif
