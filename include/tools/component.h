/* component.h -- component objects created from a named library file,
 * without the system registry and without starting the component runtime.
 */
#ifndef TOOLS_COMPONENT_H
#define TOOLS_COMPONENT_H

#include <windows.h>

#include "tools/export.h"

/* Loads the library at path (LoadLibraryA: a relative path is found by the
 * platform's search rules), asks its exported "DllGetClassObject" for the
 * IClassFactory of clsid, and has that factory create an object with the
 * interface iid into *out. Returns the factory's CreateInstance result
 * unchanged; the factory is released before returning.
 *
 * Once the library has granted a factory (any non-negative result), its
 * handle is kept loaded and recorded, one entry per request even for the
 * same file, and TkTerminate frees the entries last loaded first, also
 * when CreateInstance failed. Release every object before TkTerminate, or
 * before unloading tools.dll, which runs TkTerminate. When the record
 * cannot grow, the library stays loaded for the life of the process.
 *
 * Nothing but the factory's CreateInstance writes *out: on the failures
 * below it keeps what the caller put there.
 *   - The library cannot be loaded: the thread's last error as an HRESULT
 *     (0x8007xxxx: its low 16 bits with 0x80070000 set; a code with its top
 *     bit set comes back as it is), e.g. 0x8007007E for a missing file.
 *   - It has no "DllGetClassObject": it is unloaded again, and the last
 *     error as read after that unloading, converted as above.
 *   - "DllGetClassObject" fails: it is unloaded again, and its result comes
 *     back unchanged.
 *   - "DllGetClassObject" reports success but gives no factory: it is
 *     unloaded again, and the result is E_NOINTERFACE.
 * A last error of 0 where a failure must be reported gives E_FAIL, never a
 * success code. A null path gives E_INVALIDARG and a null out E_POINTER,
 * with nothing loaded.
 *
 * Not safe against concurrent calls or a concurrent TkTerminate. */
TOOLS_API HRESULT NoRegCoCreate(const char* path, REFCLSID clsid, REFIID iid, void** out);

/* Creates nothing: returns S_OK at once and leaves *out as it is. Kept for
 * hosts that call it; use NoRegCoCreate to create objects. */
TOOLS_API HRESULT NoOleCoCreate(REFCLSID clsid, REFIID iid, void** out);

#endif
