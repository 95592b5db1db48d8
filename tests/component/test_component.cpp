/* A component library for the tests of component creation: a class
 * factory and one interface, with class ids that make DllGetClassObject or
 * CreateInstance fail, and counts of its live objects. */
#include <new>

#include "test_component.h"

using namespace testcomponent;

namespace {

LONG g_factories;
LONG g_counters;

class Counter : public ICounter {
public:
    Counter() { InterlockedIncrement(&g_counters); }
    virtual ~Counter() { InterlockedDecrement(&g_counters); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == kCounterId) {
            *out = static_cast<ICounter*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Add(LONG amount, LONG* total) override
    {
        if (!total)
            return E_POINTER;
        total_ += amount;
        *total = total_;
        return S_OK;
    }

private:
    LONG refs_ = 1;
    LONG total_ = 0;
};

class Factory : public IClassFactory {
public:
    explicit Factory(bool failCreate) : failCreate_(failCreate) { InterlockedIncrement(&g_factories); }
    virtual ~Factory() { InterlockedDecrement(&g_factories); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (failCreate_)
            return kCreateFailure;
        Counter* counter = new (std::nothrow) Counter;
        if (!counter)
            return E_OUTOFMEMORY;
        HRESULT hr = counter->QueryInterface(iid, out);
        counter->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    LONG refs_ = 0;
    bool failCreate_;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid == kEmptyClass)
        return S_OK;
    bool counter = clsid == kCounterClass || clsid == kPositiveClass;
    if (!counter && clsid != kFailingClass)
        return CLASS_E_CLASSNOTAVAILABLE;
    Factory* factory = new (std::nothrow) Factory(clsid == kFailingClass);
    if (!factory)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    if (FAILED(hr)) {
        delete factory;
        return hr;
    }
    return clsid == kPositiveClass ? kPositiveGrant : S_OK;
}

extern "C" __declspec(dllexport) void WINAPI TestLiveObjects(LONG* factories, LONG* counters)
{
    *factories = g_factories;
    *counters = g_counters;
}
