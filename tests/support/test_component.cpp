/* A component library for the tests of component creation: a class
 * factory and one interface, with class ids that make DllGetClassObject or
 * CreateInstance fail, and counts of its live objects. */
#include <new>

#include "support/test_component.h"

using namespace testcomponent;

namespace {

LONG g_factories;
LONG g_counters;

/* IUnknown for an object of one interface, counted in live while it
 * exists. Objects start with no reference: the first QueryInterface gives
 * the caller theirs. */
template <typename Interface, const IID& kId, LONG& live>
class Unknown : public Interface {
public:
    Unknown() { InterlockedIncrement(&live); }
    virtual ~Unknown() { InterlockedDecrement(&live); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == kId) {
            *out = static_cast<Interface*>(this);
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

private:
    LONG refs_ = 0;
};

/* Hands out a new object of type T for iid; nothing is left behind when
 * the object lacks that interface. */
template <typename T, typename... Args>
HRESULT Make(REFIID iid, void** out, Args... args)
{
    T* object = new (std::nothrow) T(args...);
    if (!object)
        return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    if (FAILED(hr))
        delete object;
    return hr;
}

class Counter : public Unknown<ICounter, kCounterId, g_counters> {
public:
    HRESULT STDMETHODCALLTYPE Add(LONG amount, LONG* total) override
    {
        if (!total)
            return E_POINTER;
        total_ += amount;
        *total = total_;
        return S_OK;
    }

private:
    LONG total_ = 0;
};

class Factory : public Unknown<IClassFactory, IID_IClassFactory, g_factories> {
public:
    explicit Factory(bool failCreate) : failCreate_(failCreate) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (failCreate_)
            return kCreateFailure;
        return Make<Counter>(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
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
    HRESULT hr = Make<Factory>(iid, out, clsid == kFailingClass);
    if (FAILED(hr))
        return hr;
    return clsid == kPositiveClass ? kPositiveGrant : S_OK;
}

extern "C" __declspec(dllexport) void WINAPI TestLiveObjects(LONG* factories, LONG* counters)
{
    *factories = g_factories;
    *counters = g_counters;
}
