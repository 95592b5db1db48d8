/* scoped.h -- the graph's short-lived owners: the first failure of an
 * operation, a memory drawing context and a selection that puts the previous
 * object back. */
#ifndef TOOLS_GRAPH_SCOPED_H
#define TOOLS_GRAPH_SCOPED_H

#include <windows.h>

#include "graph/surface.h"
#include "runtime/hresult.h"
#include "runtime/last_error.h"

namespace tk {

/* The first failed platform call of an operation that goes on regardless. */
class Outcome {
public:
    Outcome() : failed_(false), error_(0) {}

    /* Notes a failure when ok is false; call it right after the call that
     * failed, while the last error is still the failure's. */
    void Check(bool ok)
    {
        if (!ok && !failed_) {
            failed_ = true;
            error_ = GetLastError();
        }
    }

    /* S_OK, or the first failure as a converted last-error code (E_FAIL when
     * the system gave none), which also becomes the last error again. */
    HRESULT Result() const
    {
        if (!failed_)
            return S_OK;
        SetLastError(error_);
        return error_ ? HResultFromError(static_cast<long>(error_)) : E_FAIL;
    }

private:
    bool failed_;
    DWORD error_;
};

/* A memory drawing context compatible with another one. */
class MemoryDC {
public:
    MemoryDC(HDC compatible, const GraphSurface& surface)
        : surface_(surface), dc_(surface.createCompatibleDC(compatible)) {}
    ~MemoryDC()
    {
        if (dc_) {
            LastErrorKeeper keep;
            surface_.deleteDC(dc_);
        }
    }

    operator HDC() const { return dc_; }

private:
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    const GraphSurface& surface_;
    HDC dc_;
};

/* Objects selected into a context, one kind at a time: the object that the
 * first selection replaced goes back when the scope ends, so that nothing of
 * the graph stays selected in a context it does not own. Selecting none
 * leaves the context as it is. */
class ScopedSelection {
public:
    ScopedSelection(HDC dc, const GraphSurface& surface) : surface_(surface), dc_(dc), previous_(nullptr) {}
    ScopedSelection(HDC dc, HGDIOBJ object, const GraphSurface& surface)
        : surface_(surface), dc_(dc), previous_(nullptr)
    {
        Select(object);
    }
    ~ScopedSelection()
    {
        if (previous_) {
            LastErrorKeeper keep;
            surface_.selectObject(dc_, previous_);
        }
    }

    void Select(HGDIOBJ object)
    {
        if (!object)
            return;
        HGDIOBJ replaced = surface_.selectObject(dc_, object);
        if (!previous_)
            previous_ = replaced;
    }

private:
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;
    const GraphSurface& surface_;
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace tk

#endif
