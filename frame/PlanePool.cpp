// Plane memory that outlives a frame, so that the next frame of a sequence reuses it instead of fresh pages.
//
// The next frame of a sequence usually has the same layout and takes the same blocks back, which spares the
// kernel's zero-filling of fresh pages. Blocks not taken again are freed before the next read.
#include "frame/PlanePool.h"

#include "zqshared/zqSystem.h"

#include <cstdlib>

void* PlanePool::take(size_t bytes)
{
    for (size_t i = 0; i < m_free.size(); ++i)
        if (m_free[i].bytes == bytes)
        {
            void* block = m_free[i].block;
            m_free[i] = m_free.back();
            m_free.pop_back();
            return block;
        }
    return zqAllocatePlane(bytes);
}

void PlanePool::give(void* block, size_t bytes)
{
    if (!block)
        return;
    try
    {
        m_free.push_back({block, bytes});
    }
    catch (...)
    {
        std::free(block);
    }
}

void PlanePool::releaseAll()
{
    for (const Block& block : m_free)
        std::free(block.block);
    m_free.clear();
}

PlanePool::~PlanePool()
{
    releaseAll();
}

PlanePool& PlanePool::shared()
{
    static PlanePool pool;
    return pool;
}
