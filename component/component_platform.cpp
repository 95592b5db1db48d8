/* component_platform.cpp -- the system's calls for component creation. */
#include "base/allocation.h"
#include "component/component_platform.h"

namespace tk {

constexpr ComponentPlatform kSystemComponentPlatform = {
    LoadLibraryA, GetProcAddress, FreeLibrary, Reallocate, Release,
};

namespace {
Seam<ComponentPlatform> g_seam(kSystemComponentPlatform);
}  // namespace

Seam<ComponentPlatform>& ComponentSeam() { return g_seam; }

}  // namespace tk
