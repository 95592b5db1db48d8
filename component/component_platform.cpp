/* component_platform.cpp -- the system's calls for component creation. */
#include "base/allocation.h"
#include "base/module_calls.h"
#include "component/component_platform.h"

namespace tk {

const ComponentPlatform kSystemComponentPlatform = {
    SystemLoadLibrary, SystemGetProcAddress, SystemFreeLibrary, Reallocate, Release,
};

namespace {
Seam<ComponentPlatform> g_seam(kSystemComponentPlatform);
}  // namespace

Seam<ComponentPlatform>& ComponentSeam() { return g_seam; }

}  // namespace tk
