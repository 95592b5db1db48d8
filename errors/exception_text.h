/* exception_text.h -- the words for an exception's code. */
#ifndef TOOLS_ERRORS_EXCEPTION_TEXT_H
#define TOOLS_ERRORS_EXCEPTION_TEXT_H

#include <windows.h>

namespace tk {

/* The text that CException::GetErrorMessage gives for code, without the
 * source line it looks up: the system's message for it, else the library's
 * own, which for an access violation with a record names the access and
 * the address. Writes into buffer, cut to size - 1 bytes; returns the bytes
 * written. Reads no debug information and takes no lock. */
int ExceptionText(DWORD code, const EXCEPTION_RECORD* record, char* buffer, unsigned long size);

}  // namespace tk

#endif
