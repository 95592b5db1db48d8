/* library_list.cpp -- the libraries kept loaded for component objects. */
#include "base/init_order.h"
#include "component/component_platform.h"
#include "component/library_list.h"

namespace tk {

namespace {
LibraryList g_libraries __attribute__((init_priority(TK_INIT_LOADED_LIBRARIES)));
}  // namespace

LibraryList& LoadedLibraries() { return g_libraries; }

LibraryList::~LibraryList() { handles_.Clear(ComponentSeam().Calls().release); }

void LibraryList::Append(HMODULE module)
{
    if (HMODULE* slot = handles_.Append(ComponentSeam().Calls().reallocate))
        *slot = module;
}

void LibraryList::FreeAll()
{
    const ComponentPlatform& platform = ComponentSeam().Calls();
    for (int i = handles_.count - 1; i >= 0; --i)
        platform.freeLibrary(handles_.items[i]);
    handles_.Clear(platform.release);
}

}  // namespace tk
