/* cxx_state.cpp -- the C++ runtime's per-thread exception state, read by
 * the layout that the Itanium C++ ABI gives it and that GCC's runtime
 * keeps (its section 2.2: the exception header before each thrown object,
 * and the per-thread globals with the caught-exception stack). */
#include <cxxabi.h>

#include "faults/cxx_state.h"
#include "frames/processor.h"

namespace tk {

/* The exception header, as the ABI lays it out; GCC's dependent
 * exceptions (a rethrown std::exception_ptr) keep the same places for the
 * fields read here. */
struct CxaException {
    std::type_info* exceptionType;
    void (*exceptionDestructor)(void*);
    void (*unexpectedHandler)();
    void (*terminateHandler)();
    CxaException* nextException;
    int handlerCount;
    int handlerSwitchValue;
    const char* actionRecord;
    const char* languageSpecificData;
    void* catchTemp;
    void* adjustedPtr;
    _Unwind_Exception unwindHeader;
};

struct CxxThreadState {
    CxaException* caughtExceptions;
    unsigned int uncaughtExceptions;
};

namespace {

/* A C++ exception of GCC's runtime: the class "GNUCC++" and a last byte
 * of 0 (an exception) or 1 (a dependent one). Another runtime's header
 * cannot be read this way. */
bool IsGccCxx(const _Unwind_Exception& header)
{
    const _Unwind_Exception_Class gnu = 0x474E5543432B2B00ull;   /* "GNUCC++\0" */
    return (header.exception_class & ~static_cast<_Unwind_Exception_Class>(1)) == gnu;
}

}  // namespace

const CxxThreadState* ThreadCxxState()
{
    return reinterpret_cast<const CxxThreadState*>(__cxxabiv1::__cxa_get_globals());
}

bool UnwindingAnother(const CxxThreadState* state) { return state && state->uncaughtExceptions; }

void EndSkippedHandlers(DWORD_PTR throwFrom)
{
    const CxxThreadState* state = ThreadCxxState();
    for (;;) {
        const CxaException* top = state->caughtExceptions;
        if (!top || !IsGccCxx(top->unwindHeader) || !arch::HandlerFrameLeft(top->unwindHeader, throwFrom))
            return;
        __cxxabiv1::__cxa_end_catch();
    }
}

}  // namespace tk
