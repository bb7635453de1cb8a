#pragma once
// Storage for large columns. A run's columns are allocated and freed batch
// after batch, and threads generating side by side do the same; handing each
// freed block back to the system would make every batch fault its pages in
// again, and in one process those faults and unmaps serialize the threads. So
// freed large blocks are kept, up to a bounded total, and handed out again.
#include <cstddef>

namespace synth::base {

struct Block {
    void* data = nullptr;
    std::size_t bytes = 0;  // usable size, at least what was asked
};

// A block of at least `bytes` bytes, uninitialised; throws std::bad_alloc
// like operator new.
Block acquire_block(std::size_t bytes);

// Gives a block from acquire_block back (a null block is ignored).
void release_block(Block block) noexcept;

}  // namespace synth::base
