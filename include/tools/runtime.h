/* runtime.h -- exceptions, fault translation, the millisecond clock, busy
 * delays and the start and end of the library.
 *
 * Every exception travels as a pointer to a CException (or a subclass). A host
 * catches CException* (or a subclass pointer to select a kind), may show it
 * with ReportError, reads its code with operator long, and ends its life with
 * Delete, which frees heap-made exceptions and leaves static ones alone.
 */
#ifndef TOOLS_RUNTIME_H
#define TOOLS_RUNTIME_H

#include <windows.h>

#include "tools/export.h"

namespace tk {
struct ExceptionStack;
}

class TOOLS_API CException {
public:
    /* Code 1, no location, not static. */
    CException();
    explicit CException(long hr);
    CException(long hr, const char* file, int line);
    CException(bool bStatic, long hr);
    CException(bool bStatic, long hr, const char* file, int line);
    /* Borrows p: the code is p->ExceptionRecord->ExceptionCode, and p must
     * outlive the object. A null p, or one without a record, gives E_POINTER
     * and no pointers. CRunTimeException keeps its own copy instead. */
    explicit CException(EXCEPTION_POINTERS* p);
    /* Copies all five fields, m_bStatic included, with one exception: a
     * plain CException copied from a CRunTimeException gets no
     * m_pExceptionPointers, since those point into the source's own copy
     * of the fault record and would dangle once the source is deleted (its
     * text then names no address and finds no source line). */
    CException(const CException& other);
    CException& operator=(const CException& other);
    virtual ~CException();

    /* Writes the exception's text into buffer (size bytes, terminator
     * included) and returns the number of characters stored (0 for an
     * empty text). Nothing is ever written beyond size bytes; a null buffer
     * is taken as size 0.
     *
     * The text is the system's message for the code when it has one (its
     * inserts such as %1 left as they stand); then nothing else changes.
     * Otherwise it is the library's: for a fault code, its fixed text (cut
     * to size - 1 bytes), for an access violation the access ("read from"
     * or "write to") and the address, and for any other code the line
     * "Unknown HRESULT = XXXXXXXX\n", or an empty text when size is below
     * 32. An access violation thrown by code, without a fault record, says
     * "read from or write to" and names no address.
     *
     * On that second path an exception made from a fault also learns where
     * it happened: the source-line lookup is restarted and asked for the
     * faulting instruction's line, which m_pszFile and m_nLine then hold
     * (none and -1 when no line is found; a lookup that fails without any
     * error code leaves them as they were). The file name is the library's
     * own copy and stays readable while tools.dll is loaded. An exception
     * thrown by code keeps the location its thrower gave. Calls on several
     * threads take the process-wide lookup one at a time. */
    virtual int GetErrorMessage(char* buffer, unsigned long size);
    /* Shows the exception in a modal MessageBoxA of the given type, owned by
     * no window and captioned "Exception Error", and returns the button that
     * closed it (IDYES 6, IDNO 7, ...), or 0 when no box could be shown. The
     * text comes from GetErrorMessage (called virtually) and the location it
     * leaves; the path is shown from the word "Velquor" on (any case), or
     * whole when the word is absent:
     *     with text and location:  path(line)\n\n"text"\nmessage
     *     with text only:          "text"\nmessage
     *     with location only:      path (line)\n\nmessage
     *     with neither:            message
     * A type of exactly MB_YESNO appends "\nContinue?\n"; with an icon or
     * any other flag nothing is appended. The box text holds at most 511
     * characters: a longer one is cut after the last whole character that
     * fits, before the question, which is always kept. A null text is
     * shown as an empty one. */
    virtual int ReportError(unsigned type);
    virtual int ReportError(const char* text, unsigned type);

    /* Writes the call stack where the exception arose into buffer (size
     * bytes, terminator included) and returns the number of characters
     * stored: one line per frame, innermost first, in a debugger's
     * backtrace form, for example
     *     #0  0x00000001400015a2 in leaf(int) at C:/src/bench/kernel.cpp:31
     *     #1  inner() at C:/src/bench/kernel.cpp:40
     *     #2  0x0000000140001602 in middle() at C:/src/bench/kernel.cpp:47
     *     #3  0x00007ffb1c2e7344 in BaseThreadInitThunk from C:\windows\system32\kernel32.dll
     * Nothing is ever written beyond size bytes, a null buffer is taken as
     * size 0, and the text is cut only after a whole line: a buffer too
     * small for the first line gets an empty text.
     *
     * The stack is recorded when the exception is made, at most 64 frames
     * of it. A fault's starts at the faulting instruction and is recorded
     * at the fault, before any frame is unwound; that of an exception made
     * by a throw helper, or constructed by the host, starts at the return
     * address in the code that called the helper or the constructor. Copies
     * carry the stack of their source. Frame 0's address is the faulting
     * instruction's, every other frame's the return address of its call;
     * its function, file and line are those of that instruction, or of the
     * call before the return address. Each call that the compiler inlined
     * there is a line of its own, without an address: the inlined
     * function, and the file and line of its call.
     *
     * Names come from the module's own DWARF debug information (with its
     * debug file, as for the source line), else its COFF symbol table,
     * else its export table, else the debug-help library's symbols (for
     * modules with program databases); a frame with none of them reads
     * "?? from" the module's path. Function names are demangled, with
     * their parameter types where the linkage name gives them. Reading
     * the modules takes time only on the first call that meets them; what
     * is kept of them is freed by TkTerminate. Unlike GetErrorMessage it
     * never restarts the debug-help library and changes nothing of the
     * object. Calls on several threads, and their texts, take the
     * process-wide lookup one at a time. */
    int GetCallStack(char* buffer, unsigned long size) const;

    operator long() const { return m_hr; }
    /* Sets the source location; the file text is kept by pointer. */
    void Locate(const char* file, int line);
    /* Frees an object made with new whose m_bStatic is false; does nothing
     * for static ones. Call it only on such objects. */
    void Delete();

    bool m_bStatic;
    long m_hr;
    const char* m_pszFile;   /* none (null) when unknown */
    int m_nLine;             /* -1 when unknown */
    EXCEPTION_POINTERS* m_pExceptionPointers;

private:
    friend struct tk::ExceptionStack;

    /* Where the exception arose (GetCallStack): the code addresses of the
     * frames, innermost first, and whether frame 0 is a faulting
     * instruction rather than a return address. */
    void* m_StackFrames[64];
    unsigned short m_nStackFrames;
    bool m_bFaultingFrame;
};

/* Code 0x8007000E; the default constructor marks the object static. */
class TOOLS_API CMemoryException : public CException {
public:
    CMemoryException();
    CMemoryException(const CMemoryException& other);
    CMemoryException& operator=(const CMemoryException& other);
    virtual ~CMemoryException();
};

/* Code 0x800705AA (ERROR_NO_SYSTEM_RESOURCES); static by default. */
class TOOLS_API CResourceException : public CException {
public:
    CResourceException();
    CResourceException(const CResourceException& other);
    CResourceException& operator=(const CResourceException& other);
    virtual ~CResourceException();
};

/* Code 0x80004001 (E_NOTIMPL); static by default. */
class TOOLS_API CNotImplementedException : public CException {
public:
    CNotImplementedException();
    CNotImplementedException(const CNotImplementedException& other);
    CNotImplementedException& operator=(const CNotImplementedException& other);
    virtual ~CNotImplementedException();
};

/* An exception made from a processor or system fault. It keeps its own copy
 * of the fault's exception record and processor context for its whole life;
 * m_pExceptionPointers points at that copy (also in copies of the object), so
 * a handler may read it long after the system's own record is gone. */
class TOOLS_API CRunTimeException : public CException {
public:
    /* Copies *p. A null p, or one without a record, gives code E_POINTER and
     * no pointers. */
    explicit CRunTimeException(EXCEPTION_POINTERS* p);
    CRunTimeException(const CRunTimeException& other);
    CRunTimeException& operator=(const CRunTimeException& other);
    virtual ~CRunTimeException();

private:
    void CopyFaultRecord(const EXCEPTION_POINTERS* p);

    EXCEPTION_RECORD m_Record;
    CONTEXT m_Context;
    EXCEPTION_POINTERS m_Pointers;
};

/* Throw helpers; none returns.
 *
 * The long overloads throw a new CException with hr unchanged. The int
 * overloads take a system error code: 0 or less stays as it is, a positive
 * code keeps its low 16 bits with 0x80070000 set. When no exception object
 * can be allocated they throw the static CMemoryException instead, carrying
 * the location that was passed (or none).
 *
 * The other helpers throw the one static instance of their class, first
 * setting its location (the overloads without arguments clear it) and
 * recording its call stack. The static instances are shared by all threads
 * and their location and stack are written without a lock: a catcher on
 * one thread may see the location or stack of a simultaneous throw on
 * another. */
[[noreturn]] TOOLS_API void ThrowException(long hr);
[[noreturn]] TOOLS_API void ThrowException(int error);
[[noreturn]] TOOLS_API void ThrowException(long hr, const char* file, int line);
[[noreturn]] TOOLS_API void ThrowException(int error, const char* file, int line);
[[noreturn]] TOOLS_API void ThrowMemoryException();
[[noreturn]] TOOLS_API void ThrowMemoryException(const char* file, int line);
[[noreturn]] TOOLS_API void ThrowResourceException();
[[noreturn]] TOOLS_API void ThrowResourceException(const char* file, int line);
[[noreturn]] TOOLS_API void ThrowNotImplementedException();
[[noreturn]] TOOLS_API void ThrowNotImplementedException(const char* file, int line);

/* The structured-exception translator: throws a new CRunTimeException made
 * from p as CRunTimeException* (the static CMemoryException when it cannot be
 * allocated). TkInitialize installs it for the calling thread and every
 * fiber that runs on it: a processor fault there (division by zero, access
 * violation, ...) is thrown to the nearest catch clause up the stack that
 * takes a CRunTimeException* (one for it, CException*, void* or ...), and
 * never ends in std::terminate but where C++ itself says so (below).
 *
 * What is translated follows the platform compiler's translator, which
 * takes every structured exception that reaches it unless it is a C++
 * runtime's own throw or a breakpoint: every exception of warning or error
 * severity (code 0x80000000 and above: the processor's faults, a guard
 * page's first touch, a single step (0x80000004), and such codes that a
 * program raises), but never a C++ throw, and never a breakpoint
 * (0x80000003: DebugBreak, an int3 of the program's own), which belongs to
 * the debugger or the just-in-time debugger. A GCC throw (0x20474343, and
 * its unwinds 0x21474343 and 0x22474343) that no catch takes ends in
 * std::terminate, as C++ says, also on a thread that the system started
 * and with a catch (CException*) around it; the platform compiler's throw
 * (0xE06D7363) is left to its own runtime. Informational exceptions (a
 * debugger's text, a thread's name, a 32-bit program's breakpoint under
 * WOW64, 0x4000001F) and non-continuable ones are not translated either.
 *
 * Where a fault arrives, in the order in which the system offers it to
 * handlers, which is the order in which the platform compiler's translator
 * meets it:
 *
 *   - The host's own vectored handlers come first: those registered before
 *     TkInitialize, and those added at the front of the list (First = 1)
 *     at any time. One added later at the end of the list (First = 0)
 *     comes after the translator, and sees only what it leaves.
 *   - A handler of another kind between the fault and that catch that may
 *     take the fault gets it first: a structured handler of the host's
 *     with a filter (__except), the platform compiler's C++ handler, a
 *     system function that handles its own faults (IsBadReadPtr), the
 *     handler with which the system calls a callback. Frames whose handler
 *     never takes a fault are passed like any other: plain C built with
 *     -fexceptions and GCC's own runtime (GCC's C personality), frames with
 *     termination handlers only (__finally), and the buffer checks of code
 *     built with /GS; their cleanups run as the throw leaves them.
 *   - In a callback of the system (a window procedure reached through
 *     SetWindowPos, SendMessage or DispatchMessage, a TIMERPROC) a catch in
 *     the callback takes the fault. A catch around the call into the system
 *     comes after the system's own handler around the callback: the one
 *     around a TIMERPROC takes every exception and skips the rest of the
 *     callback; on 64-bit Windows so does the one around a window procedure
 *     that the system calls from a system call (WM_SIZE through
 *     SetWindowPos), or the process ends there.
 *   - A function compiled with -fnon-call-exceptions throws from the
 *     faulting instruction itself: a catch in that very function takes the
 *     fault, and the destructors of its locals run.
 *   - Any other frame that the C++ runtime cannot carry a throw out of is
 *     skipped, and the throw starts at the call that led into it, as if that
 *     call had thrown; the destructors of the skipped frames' locals do not
 *     run (as with the platform compiler's synchronous exception model).
 *     Such frames are: a function built without -fnon-call-exceptions that
 *     has cleanups (its faulting instruction is in none of its call sites),
 *     a call the compiler took for one that cannot throw, and a noexcept
 *     function. A catch handler that was running in a skipped frame is
 *     ended as the throw leaves it, as a throw out of it would end it: no
 *     exception stays current (std::current_exception) or uncaught after
 *     the host's catch.
 *   - While another exception is on its way to its catch (a destructor
 *     that runs during unwinding faults), no frame is skipped: the fault is
 *     thrown from the faulting instruction, and where that throw would
 *     leave a frame that C++ lets no exception leave (the destructor, a
 *     noexcept function, a function built without -fnon-call-exceptions)
 *     the C++ runtime calls std::terminate, as C++ says of an exception
 *     that leaves a destructor during unwinding.
 *   - On x86_64 the platform's DLLs carry unwind tables, so a fault inside
 *     the C runtime (strlen of a bad pointer) or in a callback that a system
 *     DLL calls reaches the host's catch above it. On i686 they carry none
 *     that GCC's unwinder reads: a throw cannot pass them, nor the code of
 *     a module that registered no tables with GCC's shared unwinder.
 *   - When every handler declined the fault, the process's unhandled-
 *     exception filter offers it to the nearest catch once more, past the
 *     handlers that declined. While a debugger is attached the system skips
 *     that last chance and gives the fault to the debugger; a filter that
 *     the host installs after TkInitialize takes the last chance instead;
 *     all else holds as without them.
 *   - Where no catch can be reached, the fault is not translated and takes
 *     the platform's course, as on a thread without the translator: the
 *     process ends with the fault's own code. So does a fault with too
 *     little stack left below it for the translation (a few kilobytes), and
 *     one inside the library's own handling of another.
 *
 * Stack overflow is not translated: the stack that a throw would need is
 * gone. On a thread with the translator the unhandled-exception filter
 * that was installed before TkInitialize (a crash reporter's) sees it
 * first; then the whole process ends at once with exit code 0xC00000FD,
 * rather than leaving a dead thread behind in a running process. (64-bit
 * Wine 8 runs out of stack in its own dispatcher first and ends the process
 * before any filter runs, so the code is lost there.) Faults on threads
 * that did not install the translator are left alone.
 *
 * At the time of a fault the library's handling takes no lock and
 * allocates nothing, whatever the process loaded since TkInitialize: a
 * fault while another thread holds the heap's lock reaches the translator
 * all the same, whose throw then allocates as any throw does. */
[[noreturn]] TOOLS_API void TkSeTranslator(unsigned int code, EXCEPTION_POINTERS* p);

/* Milliseconds of performance-counter time, on the counter's own origin and
 * modulo 2^32; only differences (taken as unsigned 32-bit) carry meaning.
 * The first call calibrates the clock; without a performance counter every
 * call returns 0 and calibration is tried again on the next. A failed
 * counter read after calibration returns GetTickCount() for that call. A
 * counter slower than 1000 counts a second cannot give milliseconds: its
 * readings come from GetTickCount() instead. Safe on any thread, the first
 * calls included. */
TOOLS_API unsigned long TkGetTickCount();

/* Busy work: 200,000 executions of CPUID leaf 0. */
TOOLS_API void TkDelay();

/* As TkDelay, adding 1 to *counter with an interlocked increment before each
 * CPUID; several threads may run it against one counter. The counter wraps
 * as a 32-bit two's-complement value. A null counter does nothing. */
TOOLS_API void TkDelayInc(volatile long* counter);

/* Installs the translator for the calling thread (and its fibers), learns
 * the platform family (TkGetPlatform), decides the control style
 * (TkIsNewStyle), starts the source-line lookup and calibrates the clock,
 * in this order. Call it before the host starts other threads. It reports
 * nothing: a platform that lacks the debug-help library or the
 * common-controls version only finds no source lines or keeps the old
 * style. It may be called again; the style flag is then only ever turned
 * on.
 *
 * The first call in the process adds the library's handler at the end of
 * the process's vectored handlers and puts the library's filter in place
 * as the process's unhandled-exception filter, passing on what it does not
 * translate to the filter that was in place before. The handler's entry
 * (a few instructions in a page of their own) stays in the list for the
 * process's life, and passes nothing on once the library is unloaded. */
TOOLS_API void TkInitialize();

/* Removes the calling thread's translator, turns crash reports off
 * (TkSetCrashReport), stops the source-line lookup
 * (unloading the debug-help library) and frees the libraries loaded for
 * components, last loaded first. A second call finds nothing left to do.
 * Platform family, style flag, cookie counter and clock stay as they are.
 *
 * It runs again when the host frees tools.dll (FreeLibrary), which then
 * waits until no call of the library's handler or filter that began on
 * another thread still runs, so that none runs the library's code once it
 * is unmapped. Free tools.dll only when every thread that called
 * TkInitialize has called TkTerminate or ended: a fault that is being
 * translated runs the library's code until its catch. At process exit it
 * does not run: other libraries may be gone by then, and freeing them or
 * calling into them from the unload notification could crash the exit;
 * the process's end releases everything anyway.
 *
 * When another unhandled-exception filter was installed over the library's
 * since TkInitialize (a crash reporter's, say), that filter may pass faults
 * on to the library's: tools.dll then stays loaded for the rest of the
 * process, FreeLibrary notwithstanding. Finding that out replaces the
 * process's filter for a moment with one that passes every exception on to
 * the filter in place. Otherwise its unload gives back the filter that was
 * in place before TkInitialize. */
TOOLS_API void TkTerminate();

/* Turns crash reports on, or off again. With reports on, an exception that
 * no handler takes on any thread of the process, whether or not the thread
 * called TkInitialize (a fault that no catch takes, a stack overflow, an
 * unhandled structured exception), leaves two files in the folder before it
 * takes its course (the filter that was in place, then the platform's; the
 * process still ends with the exception's own code, and a debugger still
 * gets the exception first):
 *
 *   <program>.<pid>.<n>.txt   time, program and Windows version, thread,
 *                             the exception with its text, address, module
 *                             and registers, the faulting thread's stack
 *                             addresses, the module list, then the stack
 *                             named as CException::GetCallStack names it
 *                             with the source lines around each line, and
 *                             the other threads' stacks, each suspended
 *                             while it is walked;
 *   <program>.<pid>.<n>.dmp   a minidump (threads, modules, the stacks)
 *                             from the debug-help library, where it has
 *                             MiniDumpWriteDump;
 *
 * where <program> is the program's file name without its extension and
 * <n> counts the process's reports from 1. A CException* that no catch
 * takes, which ends in std::terminate, leaves the text report with the
 * exception's text and its own call stack; the C++ runtime's terminate
 * handler is the library's only while reports are on, and calls the one
 * that was in place before.
 *
 * The report is written by a thread of its own, with its own stack and a
 * reserve of memory set aside now: a thread that overflowed its stack or
 * broke the process's heap still gets its report. The thread that ended
 * waits for it, a minute at most. The part that reads no debug
 * information is written first; a fault inside the later parts ends that
 * part only. This thread is the only one the library ever starts. Once
 * reports were on, tools.dll stays loaded for the rest of the process,
 * FreeLibrary notwithstanding: a host that frees it while reports are on
 * must not have it unmapped under their thread.
 *
 * folder: where reports go, made when missing; an empty text for the
 * program's own folder, or the user's temporary folder where the program's
 * folder cannot be written; null turns reports off (as TkTerminate and the
 * library's unload do), giving back the thread, its memory and the
 * terminate handler. Calling it again while on moves reports to the new
 * folder.
 *
 * Returns S_OK when the switch took effect; E_INVALIDARG when the path
 * names a file; the converted last-error code when the folder can be
 * neither made nor written to, or the reporter cannot be set up (reports
 * then stay as they were). Not from DllMain: turning reports off waits
 * for the reporter thread's end. */
TOOLS_API long TkSetCrashReport(const char* folder);

/* The platform family as TkInitialize learned it: 0 before TkInitialize,
 * then dwPlatformId (2 for the NT family, 1 for the Windows 95 family), or 1
 * when the version query failed. */
TOOLS_API unsigned long TkGetPlatform();

/* True once a TkInitialize found the NT family with common controls of
 * major version 6 or later (comctl32.dll's DllGetVersion; a library
 * without it counts as 4.0); never turned off again. Under Wine the
 * comctl32.dll that a program loads without a manifest reports version 5,
 * so the flag stays false there. */
TOOLS_API bool TkIsNewStyle();

/* The next number of a process-wide counter: 1 on the first call, then 2,
 * 3, ...; after 0xFFFFFFFF comes 0. Not atomic: two threads calling at once
 * may get the same number, so a host that needs distinct numbers on several
 * threads serialises its calls. TkTerminate does not reset it. */
TOOLS_API unsigned long TkGetCookie();

#endif
