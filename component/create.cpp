/* create.cpp -- component objects from a named library file, through the
 * library's class factory, without the registry. */
#include <windows.h>
#include <unknwn.h>

#include "tools/component.h"
#include "base/hresult.h"
#include "component/component_platform.h"
#include "component/library_list.h"

namespace {

/* IClassFactory's published interface id, spelt out so that the library
 * needs no import library of the component runtime. */
const IID kClassFactoryId = { 0x00000001, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };

typedef HRESULT (STDAPICALLTYPE* GetClassObjectFn)(REFCLSID clsid, REFIID iid, void** out);

}  // namespace

HRESULT NoRegCoCreate(const char* path, REFCLSID clsid, REFIID iid, void** out)
{
    if (!path)
        return E_INVALIDARG;
    if (!out)
        return E_POINTER;

    const tk::ComponentPlatform& platform = tk::ComponentSeam().Calls();
    tk::ComponentModule library(platform.loadLibrary(path));
    if (!library)
        return tk::FailureFromLastError();

    GetClassObjectFn getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(platform.getProcAddress(library.Get(), "DllGetClassObject")));
    if (!getClassObject) {
        /* Freed by hand, as the owner would keep the lookup's error: the
         * error is read after the library is gone, so it is the last word
         * of the whole failed request. */
        platform.freeLibrary(library.Release());
        return tk::FailureFromLastError();
    }

    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, kClassFactoryId, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    /* A library that grants success without a factory has nothing to
     * create with; it is treated as any other refusal. */
    if (!factory)
        return E_NOINTERFACE;

    /* Recorded before the object exists: its code lives in the library,
     * which must stay loaded until TkTerminate whatever happens next. */
    tk::LoadedLibraries().Append(library.Release());
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
    return hr;
}

HRESULT NoOleCoCreate(REFCLSID, REFIID, void**)
{
    return S_OK;
}
