/* history.cpp -- one line's samples in a ring that grows with the history. */
#include <stdint.h>

#include <utility>

#include "tools/graph.h"
#include "graph/graph_platform.h"

namespace {
/* A new history starts with room for this many samples rather than growing
 * on each of its first Adds. */
const unsigned kFirstCapacity = 16;
}  // namespace

CSampleHistory::~CSampleHistory()
{
    if (m_pRing)
        tk::GraphSeam().Calls().release(m_pRing);
}

bool CSampleHistory::Reserve(unsigned count)
{
    if (count <= m_nCapacity)
        return true;
    unsigned grown = m_nCapacity < kFirstCapacity / 2 ? kFirstCapacity : m_nCapacity * 2;
    if (grown < count || grown < m_nCapacity)
        grown = count;
    if (grown > SIZE_MAX / sizeof(int))
        return false;
    int* ring = static_cast<int*>(tk::GraphSeam().Calls().allocate(grown * sizeof(int)));
    if (!ring)
        return false;
    /* Oldest first from index 0, so the newest lies at count - 1. */
    for (unsigned k = 0; k < m_nCount; ++k)
        ring[m_nCount - 1 - k] = At(k);
    if (m_pRing)
        tk::GraphSeam().Calls().release(m_pRing);
    m_pRing = ring;
    m_nCapacity = grown;
    m_nNewest = m_nCount ? m_nCount - 1 : grown - 1;
    return true;
}

void CSampleHistory::Push(int sample, unsigned bound) { PushNewest(sample, bound); }

bool CSampleHistory::CopyFrom(const CSampleHistory& source)
{
    if (!Reserve(source.m_nCount))
        return false;
    for (unsigned k = source.m_nCount; k-- > 0;)
        Push(source.At(k), source.m_nCount);
    return true;
}

void CSampleHistory::Swap(CSampleHistory& other)
{
    std::swap(m_pRing, other.m_pRing);
    std::swap(m_nCapacity, other.m_nCapacity);
    std::swap(m_nCount, other.m_nCount);
    std::swap(m_nNewest, other.m_nNewest);
}
