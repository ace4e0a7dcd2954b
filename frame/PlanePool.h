// Plane memory that outlives a frame, so that the next frame of a sequence reuses it instead of fresh pages.
#pragma once

#include <cstddef>
#include <vector>

/// Blocks given back by finished frames, handed out again for requests of the same size.
class PlanePool
{
public:
    /// A block of bytes: a free block of exactly that size when there is one, else a new one; nullptr on failure.
    void* take(size_t bytes);
    /// Keeps block (of the given size) for a later take; a null block is ignored.
    void give(void* block, size_t bytes);
    /// Frees every kept block.
    void releaseAll();
    /// Frees the kept blocks that the given block sizes (a size as often as it may be taken) do not take, so that a
    /// frame's fresh planes never come on top of blocks it will not use.
    void keepOnly(std::vector<size_t> sizes);
    ~PlanePool();

    /// The pool that every channel plane of this process comes from.
    static PlanePool& shared();

private:
    struct Block
    {
        void*  block;
        size_t bytes;
    };
    std::vector<Block> m_free;
};
