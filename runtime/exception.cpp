/* exception.cpp -- the exception classes and the throw helpers. */
#include <new>
#include <string.h>

#include "tools/runtime.h"
#include "base/hresult.h"
#include "faults/se_translator.h"
#include "frames/call_stack.h"
#include "runtime/statics.h"

namespace tk {

/* The record of where an exception arose, which the public class keeps
 * private. */
struct ExceptionStack {
    static void Store(CException& e, const DWORD_PTR* frames, int count, bool faulting)
    {
        static_assert(sizeof e.m_StackFrames / sizeof e.m_StackFrames[0] == kMostStackFrames,
                      "an exception keeps as many frames as a walk records");
        for (int i = 0; i < count; ++i)
            e.m_StackFrames[i] = reinterpret_cast<void*>(frames[i]);
        e.m_nStackFrames = static_cast<unsigned short>(count);
        e.m_bFaultingFrame = faulting;
    }

    /* The stack of the fault being translated, for the exception its
     * translator makes; else that of the code that called into the
     * library to make e. */
    static void Record(CException& e)
    {
        DWORD_PTR frames[kMostStackFrames];
        int count = TakeTranslatedFaultStack(frames, kMostStackFrames);
        const bool faulting = count >= 0;
        if (!faulting)
            count = RecordCallerStack(frames, kMostStackFrames);
        Store(e, frames, count, faulting);
    }

    static void Copy(CException& to, const CException& from)
    {
        memcpy(to.m_StackFrames, from.m_StackFrames, from.m_nStackFrames * sizeof from.m_StackFrames[0]);
        to.m_nStackFrames = from.m_nStackFrames;
        to.m_bFaultingFrame = from.m_bFaultingFrame;
    }
};

}  // namespace tk

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

/* Throws one of the process-wide exceptions, which arises here again. */
template <typename E>
[[noreturn]] void ThrowStatic(E& e, const char* file, int line)
{
    e.Locate(file, line);
    tk::ExceptionStack::Record(e);
    throw &e;
}

[[noreturn]] void ThrowNew(long hr, const char* file, int line)
{
    CException* e = new (std::nothrow) CException(hr, file, line);
    if (!e)
        ThrowStatic(tk::StaticMemoryException(), file, line);
    throw e;
}

}  // namespace

CException::CException()
    : m_bStatic(false), m_hr(1), m_pszFile(nullptr), m_nLine(-1), m_pExceptionPointers(nullptr)
{
    tk::ExceptionStack::Record(*this);
}

CException::CException(long hr)
    : m_bStatic(false), m_hr(hr), m_pszFile(nullptr), m_nLine(-1), m_pExceptionPointers(nullptr)
{
    tk::ExceptionStack::Record(*this);
}

CException::CException(long hr, const char* file, int line)
    : m_bStatic(false), m_hr(hr), m_pszFile(file), m_nLine(line), m_pExceptionPointers(nullptr)
{
    tk::ExceptionStack::Record(*this);
}

CException::CException(bool bStatic, long hr)
    : m_bStatic(bStatic), m_hr(hr), m_pszFile(nullptr), m_nLine(-1), m_pExceptionPointers(nullptr)
{
    tk::ExceptionStack::Record(*this);
}

CException::CException(bool bStatic, long hr, const char* file, int line)
    : m_bStatic(bStatic), m_hr(hr), m_pszFile(file), m_nLine(line), m_pExceptionPointers(nullptr)
{
    tk::ExceptionStack::Record(*this);
}

CException::CException(EXCEPTION_POINTERS* p)
    : m_bStatic(false), m_hr(CodeOf(p)), m_pszFile(nullptr), m_nLine(-1),
      m_pExceptionPointers(p && p->ExceptionRecord ? p : nullptr)
{
    tk::ExceptionStack::Record(*this);
}

CException::CException(const CException& other)
    : m_bStatic(other.m_bStatic), m_hr(other.m_hr), m_pszFile(other.m_pszFile), m_nLine(other.m_nLine),
      m_pExceptionPointers(CopyablePointers(other))
{
    tk::ExceptionStack::Copy(*this, other);
}

CException& CException::operator=(const CException& other)
{
    if (this == &other)
        return *this;
    m_bStatic = other.m_bStatic;
    m_hr = other.m_hr;
    m_pszFile = other.m_pszFile;
    m_nLine = other.m_nLine;
    m_pExceptionPointers = CopyablePointers(other);
    tk::ExceptionStack::Copy(*this, other);
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

void ThrowMemoryException(const char* file, int line) { ThrowStatic(tk::StaticMemoryException(), file, line); }

void ThrowResourceException() { ThrowResourceException(nullptr, -1); }

void ThrowResourceException(const char* file, int line) { ThrowStatic(tk::StaticResourceException(), file, line); }

void ThrowNotImplementedException() { ThrowNotImplementedException(nullptr, -1); }

void ThrowNotImplementedException(const char* file, int line) { ThrowStatic(tk::StaticNotImplementedException(), file, line); }

void TkSeTranslator(unsigned int, EXCEPTION_POINTERS* p)
{
    /* The code argument carries the same value as the record; the record is
     * what the object keeps. */
    CRunTimeException* e = new (std::nothrow) CRunTimeException(p);
    if (!e)
        ThrowMemoryException();
    throw e;
}
