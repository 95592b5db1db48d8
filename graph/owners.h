/* owners.h -- the graph's handles, each released exactly once through the
 * graph's platform: a window's drawing context, a memory drawing context, a
 * drawing object, and a selection that puts the previous object back; and
 * the first failure of an operation that goes on regardless. */
#ifndef TOOLS_GRAPH_OWNERS_H
#define TOOLS_GRAPH_OWNERS_H

#include <windows.h>

#include "base/hresult.h"
#include "base/unique_handle.h"
#include "graph/graph_platform.h"

namespace tk {

/* A window's client-area context: the window is needed to give it back. */
struct WindowDC {
    HWND window;
    HDC dc;
    bool operator==(const WindowDC& other) const { return dc == other.dc; }
};
struct WindowDCTraits {
    typedef WindowDC Handle;
    static WindowDC Empty() { return WindowDC{ nullptr, nullptr }; }
    static void Close(WindowDC handle) { GraphSeam().Calls().releaseDC(handle.window, handle.dc); }
};
typedef UniqueHandle<WindowDCTraits> UniqueWindowDC;

struct MemoryDCTraits {
    typedef HDC Handle;
    static HDC Empty() { return nullptr; }
    static void Close(HDC dc) { GraphSeam().Calls().deleteDC(dc); }
};
typedef UniqueHandle<MemoryDCTraits> UniqueMemoryDC;

struct GdiObjectTraits {
    typedef HGDIOBJ Handle;
    static HGDIOBJ Empty() { return nullptr; }
    static void Close(HGDIOBJ object) { GraphSeam().Calls().deleteObject(object); }
};
typedef UniqueHandle<GdiObjectTraits> UniqueGdiObject;

/* An object selected into a context: the one it replaced goes back. */
struct Selection {
    HDC dc;
    HGDIOBJ previous;
    bool operator==(const Selection& other) const { return dc == other.dc && previous == other.previous; }
};
struct SelectionTraits {
    typedef Selection Handle;
    static Selection Empty() { return Selection{ nullptr, nullptr }; }
    static void Close(Selection selection) { GraphSeam().Calls().selectObject(selection.dc, selection.previous); }
};
typedef UniqueHandle<SelectionTraits> UniqueSelection;

/* Objects selected into a context, one kind at a time: the object that the
 * first selection replaced goes back when the scope ends, so that nothing of
 * the graph stays selected in a context it does not own. Selecting none
 * leaves the context as it is. */
class ScopedSelection {
public:
    explicit ScopedSelection(HDC dc) : dc_(dc) {}
    ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc) { Select(object); }

    void Select(HGDIOBJ object)
    {
        if (!object)
            return;
        HGDIOBJ replaced = GraphSeam().Calls().selectObject(dc_, object);
        if (!restore_ && replaced)
            restore_.Reset(Selection{ dc_, replaced });
    }

private:
    HDC dc_;
    UniqueSelection restore_;
};

/* The first failed platform call of an operation that goes on regardless. */
class FirstFailure {
public:
    FirstFailure() : failed_(false), error_(0) {}

    /* Notes a failure when ok is false; call it right after the call that
     * failed, while the last error is still the failure's. */
    void Check(bool ok)
    {
        if (!ok && !failed_) {
            failed_ = true;
            error_ = GetLastError();
        }
    }

    /* S_OK, or the first failure by the library's rule for failed calls,
     * its last-error code becoming the thread's again. */
    HRESULT Result() const
    {
        if (!failed_)
            return S_OK;
        SetLastError(error_);
        return FailureFromLastError();
    }

private:
    bool failed_;
    DWORD error_;
};

}  // namespace tk

#endif
