// Plane memory that outlives a frame, so that the next frame of a sequence reuses it instead of fresh pages.
//
// The next frame of a sequence usually has the same layout and takes the same blocks back, which spares the
// kernel's zero-filling of fresh pages. Blocks not taken again are freed before the next read.
#include "frame/PlanePool.h"

#include <cstdlib>
#include <sys/mman.h>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

// A new block. Blocks of a huge page or more start on a huge-page boundary and ask the kernel for transparent huge
// pages: a plane is then faulted in with a few hundred faults instead of hundreds of thousands, and the planes'
// page-table entries stop crowding the TLB while the library reads and writes them.
void* newBlock(size_t bytes)
{
    if (bytes < kHugePage)
        return std::malloc(bytes);
    void* block = nullptr;
    size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    if (posix_memalign(&block, kHugePage, rounded) != 0)
        return nullptr;
    ::madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

} // namespace

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
    return newBlock(bytes);
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
