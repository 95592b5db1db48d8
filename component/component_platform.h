/* component_platform.h -- the platform calls of component creation and of
 * the loaded-library list, so that tests can watch what is freed, leave an
 * error behind a free, and make the list's growth fail. */
#ifndef TOOLS_COMPONENT_COMPONENT_PLATFORM_H
#define TOOLS_COMPONENT_COMPONENT_PLATFORM_H

#include <windows.h>
#include <stddef.h>

#include "base/handles.h"
#include "base/seam.h"

namespace tk {

struct ComponentPlatform {
    HMODULE (WINAPI* loadLibrary)(LPCSTR name);
    FARPROC (WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL (WINAPI* freeLibrary)(HMODULE module);
    void* (*reallocate)(void* block, size_t bytes);
    void (*release)(void* block);
};

extern const ComponentPlatform kSystemComponentPlatform;

Seam<ComponentPlatform>& ComponentSeam();

/* A component library, freed through the seam. */
typedef UniqueModule<ComponentPlatform, ComponentSeam> ComponentModule;

}  // namespace tk

#endif
