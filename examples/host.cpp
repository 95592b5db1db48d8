/* An example host of tools.dll: throws and catches each kind of exception,
 * catches a processor fault, and times the busy delay with the clock. */
#include <stdio.h>

#include <windows.h>

#include "tools/runtime.h"

namespace {

volatile int g_zero = 0;

void Show(const char* what, CException* e)
{
    printf("%-28s code 0x%08lX  static %-5s  location %s(%d)\n", what, static_cast<unsigned long>(*e),
           e->m_bStatic ? "yes" : "no", e->m_pszFile ? e->m_pszFile : "none", e->m_nLine);
}

template <typename F>
void Catch(const char* what, F throwIt)
{
    try {
        throwIt();
    } catch (CException* e) {
        Show(what, e);
        e->Delete();
    }
}

void Exceptions()
{
    printf("Exceptions thrown by pointer and caught as CException*:\n");
    Catch("ThrowException(E_FAIL)", [] { ThrowException(static_cast<long>(E_FAIL), __FILE__, __LINE__); });
    Catch("ThrowException(int 5)", [] { ThrowException(5); });
    Catch("ThrowMemoryException", [] { ThrowMemoryException(__FILE__, __LINE__); });
    Catch("ThrowResourceException", [] { ThrowResourceException(); });
    Catch("ThrowNotImplemented", [] { ThrowNotImplementedException(); });
    try {
        int quotient = 1 / g_zero;
        printf("no fault: %d\n", quotient);
    } catch (CRunTimeException* e) {
        const EXCEPTION_RECORD* r = e->m_pExceptionPointers->ExceptionRecord;
        Show("division by zero", e);
        printf("%-28s at address %p\n", "", r->ExceptionAddress);
        e->Delete();
    }
}

void Timing()
{
    printf("\nTiming TkDelay (200,000 CPUID instructions) with TkGetTickCount:\n");
    const int rounds = 5;
    for (int i = 0; i < rounds; ++i) {
        unsigned long start = TkGetTickCount();
        TkDelay();
        printf("  round %d: %lu ms\n", i + 1, TkGetTickCount() - start);
    }
}

}  // namespace

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    TkInitialize();
    Exceptions();
    Timing();
    TkTerminate();
    return 0;
}
