// Plane memory that outlives a frame, so that the next frame of a sequence reuses it instead of fresh pages.
//
// The next frame of a sequence usually has the same layout and takes the same blocks back, which spares the
// kernel's zero-filling of fresh pages. Blocks a frame will not take are freed before it takes any.
#include "frame/PlanePool.h"

#include "zqshared/zqSystem.h"

#include <algorithm>
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

void PlanePool::keepOnly(std::vector<size_t> sizes)
{
    std::vector<Block> kept;
    for (const Block& block : m_free)
    {
        auto wanted = std::find(sizes.begin(), sizes.end(), block.bytes);
        if (wanted == sizes.end())
            std::free(block.block);
        else
        {
            *wanted = 0;
            kept.push_back(block);
        }
    }
    m_free.swap(kept);
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
