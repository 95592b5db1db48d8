/* owners.cpp -- the window drawing context and the graph's drawing objects,
 * each released exactly once. */
#include "tools/graph.h"
#include "graph/scoped.h"
#include "graph/surface.h"

CClientDC::CClientDC(HWND hWnd) : CClientDC(hWnd, tk::kGdiSurface) {}

CClientDC::CClientDC(HWND hWnd, const tk::GraphSurface& surface)
    : m_hWnd(hWnd), m_hDC(surface.getDC(hWnd)), m_pSurface(&surface) {}

CClientDC::~CClientDC()
{
    if (m_hDC) {
        tk::LastErrorKeeper keep;
        m_pSurface->releaseDC(m_hWnd, m_hDC);
    }
}

/* The last chance: a handle whose release fails here is lost. */
CGdiObject::~CGdiObject()
{
    if (m_hObject) {
        tk::LastErrorKeeper keep;
        m_pSurface->deleteObject(m_hObject);
    }
}

bool CGdiObject::Release()
{
    if (m_hObject && m_pSurface->deleteObject(m_hObject))
        m_hObject = nullptr;
    return m_hObject == nullptr;
}

void CGdiObject::Keep(HGDIOBJ object, const tk::GraphSurface& surface)
{
    m_hObject = object;
    m_pSurface = &surface;
}
