/* foreign_frames.h -- frames of the kinds that other compilers and the
 * system's DLLs leave between a fault and a catch, each calling f(a, b) in
 * the one scope that its exception handler covers. Defines code: include it
 * in one file of a program.
 *
 * On both targets, a frame whose handler is a filter that declines every
 * exception, counting its calls in g_filters: on x86_64 the C runtime's
 * structured handler with one __except scope, on i686 a record on the
 * thread's handler chain. On x86_64 also the C runtime's handler with one
 * __finally scope, counted in g_finallies as it runs; a handler shaped as a
 * buffer check is, which passes its arguments to a check and always answers
 * "continue the search"; and the same shape answering what the check
 * answers, which makes it a filter. Both count in g_checks. */
#ifndef TOOLS_TESTS_FOREIGN_FRAMES_H
#define TOOLS_TESTS_FOREIGN_FRAMES_H

#include <windows.h>

namespace tktest {

inline volatile LONG g_filters, g_finallies, g_checks;

}  // namespace tktest

extern "C" {

__attribute__((used)) inline LONG tk_DeclineFilter(EXCEPTION_POINTERS*, void*)
{
    InterlockedIncrement(&tktest::g_filters);
    return EXCEPTION_CONTINUE_SEARCH;
}

#ifdef _WIN64
int tk_CallInDecliningExceptScope(int (*f)(int, int), int a, int b);
int tk_CallInFinallyScope(int (*f)(int, int), int a, int b);
int tk_CallInCheckedFrame(int (*f)(int, int), int a, int b);
int tk_CallInFilteredFrame(int (*f)(int, int), int a, int b);

__attribute__((used)) inline void tk_CountFinally(BOOLEAN, void*) { InterlockedIncrement(&tktest::g_finallies); }
__attribute__((used)) inline EXCEPTION_DISPOSITION tk_Check(void*, void*, void*)
{
    InterlockedIncrement(&tktest::g_checks);
    return ExceptionContinueSearch;
}

/* A frame of 40 bytes whose unwind information names handler, with data
 * as its handler data; labels 1 and 2 bound the call. */
#define TK_CALL_FRAME(name, handler, data)                         \
    ".globl " name "\n"                                            \
    ".def " name "; .scl 2; .type 32; .endef\n"                    \
    ".seh_proc " name "\n" name ":\n"                              \
    "    .seh_handler " handler ", @except, @unwind\n"             \
    "    subq $40, %rsp\n"                                         \
    "    .seh_stackalloc 40\n"                                     \
    "    .seh_endprologue\n"                                       \
    "    movq %rcx, %rax\n"                                        \
    "    movl %edx, %ecx\n"                                        \
    "    movl %r8d, %edx\n"                                        \
    "1:  call *%rax\n"                                             \
    "    nop\n"                                                    \
    "2:  addq $40, %rsp\n"                                         \
    "    ret\n"                                                    \
    "    .seh_handlerdata\n" data                                  \
    "    .text\n"                                                  \
    "    .seh_endproc\n"

/* The scope tables: begin, end, handler (the filter, or the __finally
 * block), and the target of an __except block (0 for a __finally). The
 * handlers' three moves pass (frame, dispatcher context, handler data). */
__asm__(
    ".text\n"
    TK_CALL_FRAME("tk_CallInDecliningExceptScope", "__C_specific_handler",
                  ".long 1\n .rva 1b, 2b, tk_DeclineFilter, 2b\n")
    TK_CALL_FRAME("tk_CallInFinallyScope", "__C_specific_handler",
                  ".long 1\n .rva 1b, 2b, tk_CountFinally\n .long 0\n")
    TK_CALL_FRAME("tk_CallInCheckedFrame", "tk_CheckingHandler", ".long 0\n")
    TK_CALL_FRAME("tk_CallInFilteredFrame", "tk_FilteringHandler", ".long 0\n")
    "tk_CheckingHandler:\n"
    "    subq $40, %rsp\n"
    "    movq 56(%r9), %r8\n"
    "    movq %rdx, %rcx\n"
    "    movq %r9, %rdx\n"
    "    call tk_Check\n"
    "    movl $1, %eax\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    "tk_FilteringHandler:\n"
    "    subq $40, %rsp\n"
    "    movq 56(%r9), %r8\n"
    "    movq %rdx, %rcx\n"
    "    movq %r9, %rdx\n"
    "    call tk_Check\n"
    "    addq $40, %rsp\n"
    "    ret\n");
#else
inline EXCEPTION_DISPOSITION NTAPI tk_DecliningRecordHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*)
{
    if (!(record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)))
        tk_DeclineFilter(nullptr, nullptr);
    return ExceptionContinueSearch;
}

/* A record on the thread's chain for the object's life, also when a throw
 * leaves its frame. */
struct ChainedRecord {
    ChainedRecord()
    {
/* GCC 12 takes the segment read of NtCurrentTeb for an access to an
 * empty array. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
        tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
#pragma GCC diagnostic pop
        record = { tib->ExceptionList, tk_DecliningRecordHandler };
        tib->ExceptionList = &record;
    }
    ~ChainedRecord() { tib->ExceptionList = record.Next; }

    NT_TIB* tib;
    EXCEPTION_REGISTRATION_RECORD record;
};

__attribute__((noinline)) inline int tk_CallInDecliningExceptScope(int (*f)(int, int), int a, int b)
{
    ChainedRecord chained;
    return f(a, b);
}
#endif

}  // extern "C"

#endif
