/* counter.h -- the one interface of the host's component: a running
 * total, made by host_component.dll's class factory. */
#ifndef TOOLS_HOST_COUNTER_H
#define TOOLS_HOST_COUNTER_H

#include <windows.h>
#include <unknwn.h>

struct ICounter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Add(LONG amount, LONG* total) = 0;
};

const IID kCounterId = { 0x3d0c5e10, 0x7a21, 0x4b6e, { 0x8f, 0x02, 0x5c, 0x31, 0x9e, 0x47, 0xa0, 0x11 } };
const CLSID kCounterClass = { 0x3d0c5e11, 0x7a21, 0x4b6e, { 0x8f, 0x02, 0x5c, 0x31, 0x9e, 0x47, 0xa0, 0x11 } };

#endif
