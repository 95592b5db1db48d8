/* owners.cpp -- the exported owners of a window's drawing context and of
 * the graph's drawing objects, released through the same calls as the
 * library's own owners. */
#include "tools/graph.h"
#include "graph/owners.h"

CClientDC::CClientDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(tk::GraphSeam().Calls().getDC(hWnd)) {}

CClientDC::~CClientDC() { tk::UniqueWindowDC release(tk::WindowDC{ m_hWnd, m_hDC }); }

/* The last chance: a handle whose release fails here is lost. */
CGdiObject::~CGdiObject() { tk::UniqueGdiObject release(m_hObject); }

bool CGdiObject::Release()
{
    if (m_hObject && tk::GraphSeam().Calls().deleteObject(m_hObject))
        m_hObject = nullptr;
    return m_hObject == nullptr;
}
