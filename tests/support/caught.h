/* caught.h -- the exception that a call throws, as a host catches it. */
#ifndef TOOLS_TESTS_CAUGHT_H
#define TOOLS_TESTS_CAUGHT_H

#include "tools/runtime.h"

namespace tktest {

/* Runs f and returns the CException* it threw, or null when it threw
 * none. */
template <typename F>
CException* Caught(F f)
{
    try {
        f();
    } catch (CException* e) {
        return e;
    }
    return nullptr;
}

}  // namespace tktest

#endif
