/* component_platform.cpp -- the system's calls for component creation. */
#include "component/component_platform.h"
#include "runtime/allocation.h"
#include "runtime/module_calls.h"

namespace tk {

const ComponentPlatform kSystemComponentPlatform = {
    SystemLoadLibrary, SystemGetProcAddress, SystemFreeLibrary, Reallocate, Release,
};

namespace {
Seam<ComponentPlatform> g_seam(kSystemComponentPlatform);
}  // namespace

Seam<ComponentPlatform>& ComponentSeam() { return g_seam; }

}  // namespace tk
