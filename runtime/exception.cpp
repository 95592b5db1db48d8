/* exception.cpp -- the exception classes and the throw helpers. */
#include <new>
#include <string.h>

#include "tools/runtime.h"
#include "base/hresult.h"
#include "runtime/statics.h"

namespace {

const long kPointerError = static_cast<long>(0x80004003);  /* E_POINTER */

long CodeOf(const EXCEPTION_POINTERS* p)
{
    return p && p->ExceptionRecord
        ? static_cast<long>(p->ExceptionRecord->ExceptionCode)
        : kPointerError;
}

/* The fault record a copy of other may point at. A run-time exception's
 * pointers lead into its own copy of the record, which ends with it: a plain
 * exception copied from one (sliced) keeps none rather than a pointer that
 * dangles once the source is deleted. CRunTimeException's own copies make a
 * record of their own. A borrowed pointer stays borrowed. */
EXCEPTION_POINTERS* CopyablePointers(const CException& other)
{
    const CRunTimeException* owner = dynamic_cast<const CRunTimeException*>(&other);
    if (!owner || !other.m_pExceptionPointers)
        return other.m_pExceptionPointers;
    const char* begin = reinterpret_cast<const char*>(owner);
    const char* at = reinterpret_cast<const char*>(other.m_pExceptionPointers);
    return at >= begin && at < begin + sizeof *owner ? nullptr : other.m_pExceptionPointers;
}

[[noreturn]] void ThrowNew(long hr, const char* file, int line)
{
    CException* e = new (std::nothrow) CException(hr, file, line);
    if (!e) {
        tk::StaticMemoryException().Locate(file, line);
        throw &tk::StaticMemoryException();
    }
    throw e;
}

}  // namespace

CException::CException()
    : m_bStatic(false), m_hr(1), m_pszFile(nullptr), m_nLine(-1), m_pExceptionPointers(nullptr) {}

CException::CException(long hr)
    : m_bStatic(false), m_hr(hr), m_pszFile(nullptr), m_nLine(-1), m_pExceptionPointers(nullptr) {}

CException::CException(long hr, const char* file, int line)
    : m_bStatic(false), m_hr(hr), m_pszFile(file), m_nLine(line), m_pExceptionPointers(nullptr) {}

CException::CException(bool bStatic, long hr)
    : m_bStatic(bStatic), m_hr(hr), m_pszFile(nullptr), m_nLine(-1), m_pExceptionPointers(nullptr) {}

CException::CException(bool bStatic, long hr, const char* file, int line)
    : m_bStatic(bStatic), m_hr(hr), m_pszFile(file), m_nLine(line), m_pExceptionPointers(nullptr) {}

CException::CException(EXCEPTION_POINTERS* p)
    : m_bStatic(false), m_hr(CodeOf(p)), m_pszFile(nullptr), m_nLine(-1),
      m_pExceptionPointers(p && p->ExceptionRecord ? p : nullptr) {}

CException::CException(const CException& other)
    : m_bStatic(other.m_bStatic), m_hr(other.m_hr), m_pszFile(other.m_pszFile), m_nLine(other.m_nLine),
      m_pExceptionPointers(CopyablePointers(other)) {}

CException& CException::operator=(const CException& other)
{
    if (this == &other)
        return *this;
    m_bStatic = other.m_bStatic;
    m_hr = other.m_hr;
    m_pszFile = other.m_pszFile;
    m_nLine = other.m_nLine;
    m_pExceptionPointers = CopyablePointers(other);
    return *this;
}
CException::~CException() = default;

void CException::Locate(const char* file, int line)
{
    m_pszFile = file;
    m_nLine = line;
}

void CException::Delete()
{
    if (!m_bStatic)
        delete this;
}

CMemoryException::CMemoryException() : CException(true, static_cast<long>(0x8007000E)) {}
CMemoryException::CMemoryException(const CMemoryException& other) = default;
CMemoryException& CMemoryException::operator=(const CMemoryException& other) = default;
CMemoryException::~CMemoryException() = default;

CResourceException::CResourceException() : CException(true, static_cast<long>(0x800705AA)) {}
CResourceException::CResourceException(const CResourceException& other) = default;
CResourceException& CResourceException::operator=(const CResourceException& other) = default;
CResourceException::~CResourceException() = default;

CNotImplementedException::CNotImplementedException() : CException(true, static_cast<long>(0x80004001)) {}
CNotImplementedException::CNotImplementedException(const CNotImplementedException& other) = default;
CNotImplementedException& CNotImplementedException::operator=(const CNotImplementedException& other) = default;
CNotImplementedException::~CNotImplementedException() = default;

CRunTimeException::CRunTimeException(EXCEPTION_POINTERS* p) : CException(CodeOf(p))
{
    CopyFaultRecord(p);
}

CRunTimeException::CRunTimeException(const CRunTimeException& other) : CException(other)
{
    CopyFaultRecord(other.m_pExceptionPointers);
}

CRunTimeException& CRunTimeException::operator=(const CRunTimeException& other)
{
    if (this != &other) {
        CException::operator=(other);
        CopyFaultRecord(other.m_pExceptionPointers);
    }
    return *this;
}

CRunTimeException::~CRunTimeException() = default;

/* Copies the record and context into this object and points
 * m_pExceptionPointers at the copy. The chain to a nested record is not
 * followed: nothing in the library reads it, and the system's nested record
 * would be as short-lived as the outer one. */
void CRunTimeException::CopyFaultRecord(const EXCEPTION_POINTERS* p)
{
    memset(&m_Record, 0, sizeof m_Record);
    memset(&m_Context, 0, sizeof m_Context);
    if (!p || !p->ExceptionRecord) {
        m_pExceptionPointers = nullptr;
        return;
    }
    m_Record = *p->ExceptionRecord;
    m_Record.ExceptionRecord = nullptr;
    if (p->ContextRecord)
        m_Context = *p->ContextRecord;
    m_Pointers.ExceptionRecord = &m_Record;
    m_Pointers.ContextRecord = p->ContextRecord ? &m_Context : nullptr;
    m_pExceptionPointers = &m_Pointers;
}

void ThrowException(long hr) { ThrowNew(hr, nullptr, -1); }
void ThrowException(int error) { ThrowNew(tk::HResultFromError(error), nullptr, -1); }
void ThrowException(long hr, const char* file, int line) { ThrowNew(hr, file, line); }
void ThrowException(int error, const char* file, int line) { ThrowNew(tk::HResultFromError(error), file, line); }

void ThrowMemoryException() { ThrowMemoryException(nullptr, -1); }

void ThrowMemoryException(const char* file, int line)
{
    tk::StaticMemoryException().Locate(file, line);
    throw &tk::StaticMemoryException();
}

void ThrowResourceException() { ThrowResourceException(nullptr, -1); }

void ThrowResourceException(const char* file, int line)
{
    tk::StaticResourceException().Locate(file, line);
    throw &tk::StaticResourceException();
}

void ThrowNotImplementedException() { ThrowNotImplementedException(nullptr, -1); }

void ThrowNotImplementedException(const char* file, int line)
{
    tk::StaticNotImplementedException().Locate(file, line);
    throw &tk::StaticNotImplementedException();
}

void TkSeTranslator(unsigned int, EXCEPTION_POINTERS* p)
{
    /* The code argument carries the same value as the record; the record is
     * what the object keeps. */
    CRunTimeException* e = new (std::nothrow) CRunTimeException(p);
    if (!e)
        ThrowMemoryException();
    throw e;
}
