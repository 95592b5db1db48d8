/* message.cpp -- the text of an exception's code. */
#include <stdio.h>
#include <string.h>

#include "tools/runtime.h"
#include "errors/exception_text.h"
#include "errors/fault_location.h"
#include "sourceline/lookup_lock.h"
#include "sourceline/file_names.h"
#include "sourceline/symbol_lookup.h"

namespace {

struct FaultRow {
    DWORD code;
    const char* text;
};

/* Texts for the structured-exception codes the system has no message for;
 * the access violation has a format of its own. */
const FaultRow kFaultTexts[] = {
    { 0xC000008C, "The thread tried to access an array element that is out of bounds.\n" },
    { 0x80000003, "A breakpoint was encountered.\n" },
    { 0x80000002, "The thread tried to read or write data that is misaligned.\n" },
    { 0xC000008D, "One of the operands in a floating-point operation is denormal.\n" },
    { 0xC000008E, "The thread tried to divide a floating-point value by a floating-point divisor of zero.\n" },
    { 0xC000008F, "The result of a floating-point operation cannot be represented exactly as a decimal fraction.\n" },
    { 0xC0000090, "This exception represents any floating-point exception not included in this list.\n" },
    { 0xC0000091, "The exponent of a floating-point operation is greater than the magnitude allowed by the corresponding type.\n" },
    { 0xC0000092, "The stack overflowed or underflowed as the result of a floating-point operation.\n" },
    { 0xC0000093, "The exponent of a floating-point operation is less than the magnitude allowed by the corresponding type.\n" },
    { 0xC000001D, "The thread tried to execute an invalid instruction.\n" },
    { 0xC0000006, "The thread tried to access a page that was not present, and the system was unable to load the page.\n" },
    { 0xC0000094, "The thread tried to divide an integer value by an integer divisor of zero.\n" },
    { 0xC0000095, "The result of an integer operation caused a carry out of the most significant bit of the result.\n" },
    { 0xC0000026, "An exception handler returned an invalid disposition to the exception dispatcher.\n" },
    { 0xC0000025, "The thread tried to continue execution after a noncontinuable exception occurred.\n" },
    { 0xC0000096, "The thread tried to execute an instruction whose operation is not allowed in the current machine mode.\n" },
    { 0x80000004, "A trace trap or other single-instruction mechanism signaled that one instruction has been executed.\n" },
    { 0xC00000FD, "The thread used up its stack.\n" },
};

/* The address has at least eight digits, and all of a 64-bit one. */
const char kAccessViolation[] =
    "The thread tried to %s a virtual address 0x%08llx for which it does not have the appropriate access.\n";
/* For an access violation thrown by code, which has no record to tell the
 * access and the address. */
const char kAccessViolationUnknown[] =
    "The thread tried to read from or write to a virtual address for which it does not have the appropriate "
    "access.\n";

/* Copies text into buffer, cut to size - 1 bytes; returns the bytes copied. */
int CopyCut(char* buffer, unsigned long size, const char* text)
{
    if (size == 0)
        return 0;
    size_t n = strlen(text);
    if (n > size - 1)
        n = size - 1;
    memcpy(buffer, text, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

/* snprintf's count is what the whole text would take; report what landed. */
int Printed(int wanted, unsigned long size)
{
    if (wanted < 0 || size == 0)
        return 0;
    return static_cast<unsigned long>(wanted) < size ? wanted : static_cast<int>(size - 1);
}

/* The library's own text for a code the system has no text for. */
int LibraryText(DWORD code, const EXCEPTION_RECORD* record, char* buffer, unsigned long size)
{
    if (code == EXCEPTION_ACCESS_VIOLATION) {
        if (!record || record->NumberParameters < 2)
            return CopyCut(buffer, size, kAccessViolationUnknown);
        const char* access = record->ExceptionInformation[0] ? "write to" : "read from";
        return Printed(snprintf(buffer, size, kAccessViolation, access,
                                static_cast<unsigned long long>(record->ExceptionInformation[1])),
                       size);
    }
    for (const FaultRow& row : kFaultTexts)
        if (row.code == code)
            return CopyCut(buffer, size, row.text);
    /* Too small for the line is an empty text, not a cut one. */
    if (size < 32) {
        if (size)
            buffer[0] = '\0';
        return 0;
    }
    return Printed(snprintf(buffer, size, "Unknown HRESULT = %08lX\n", static_cast<unsigned long>(code)), size);
}

}  // namespace

int tk::ExceptionText(DWORD code, const EXCEPTION_RECORD* record, char* buffer, unsigned long size)
{
    if (!buffer)
        size = 0;
    /* Inserts are left as they stand: without arguments to fill them, a
     * system text such as "%1 is not a valid Win32 application." would have
     * the formatter read arguments that do not exist. */
    if (size) {
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                 buffer, size, nullptr);
        if (n != 0)
            return static_cast<int>(n);
    }
    return LibraryText(code, record, buffer, size);
}

int CException::GetErrorMessage(char* buffer, unsigned long size)
{
    const EXCEPTION_RECORD* record = m_pExceptionPointers ? m_pExceptionPointers->ExceptionRecord : nullptr;
    int result = tk::ExceptionText(static_cast<DWORD>(m_hr), record, buffer, size);
    const tk::LookupLock lock;
    tk::LocateFault(*this, tk::SymbolLookup(), tk::SourceFileNames());
    return result;
}
