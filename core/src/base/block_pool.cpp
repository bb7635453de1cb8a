#include "base/block_pool.hpp"

#include <array>
#include <mutex>
#include <new>

#include "base/huge_pages.hpp"

namespace synth::base {
namespace {

// Blocks below this size come from the allocator's own free lists.
constexpr std::size_t kSmallest = std::size_t{1} << 18;
// A cached block serves a request of at least half its size.
constexpr std::size_t kMostWaste = 2;
// Blocks above this size (a whole long run's column) go back to the system:
// keeping them would hold on to a run's worth of memory after it is done.
constexpr std::size_t kLargest = std::size_t{64} << 20;
// Bound on what is kept while nobody uses it.
constexpr std::size_t kCacheBytes = std::size_t{256} << 20;
constexpr std::size_t kCacheSlots = 32;

struct Cache {
    std::mutex lock;
    std::array<Block, kCacheSlots> slots{};
    std::size_t bytes = 0;
};

Cache& cache() {
    // Never destroyed: blocks may be released during static destruction.
    static Cache* instance = new Cache;
    return *instance;
}

void free_block(Block block) noexcept {
    ::operator delete(block.data);
}

}  // namespace

Block acquire_block(std::size_t bytes) {
    if (bytes >= kSmallest && bytes <= kLargest) {
        Cache& c = cache();
        std::lock_guard<std::mutex> hold(c.lock);
        Block* best = nullptr;
        for (Block& slot : c.slots) {
            if (slot.data != nullptr && slot.bytes >= bytes && slot.bytes / kMostWaste <= bytes &&
                (best == nullptr || slot.bytes < best->bytes)) {
                best = &slot;
            }
        }
        if (best != nullptr) {
            const Block found = *best;
            *best = Block{};
            c.bytes -= found.bytes;
            return found;
        }
    }
    Block block{::operator new(bytes), bytes};
    advise_huge_pages(block.data, block.bytes);
    return block;
}

void release_block(Block block) noexcept {
    if (block.data == nullptr) return;
    if (block.bytes >= kSmallest && block.bytes <= kLargest) {
        Cache& c = cache();
        std::lock_guard<std::mutex> hold(c.lock);
        if (c.bytes + block.bytes <= kCacheBytes) {
            for (Block& slot : c.slots) {
                if (slot.data == nullptr) {
                    slot = block;
                    c.bytes += block.bytes;
                    return;
                }
            }
        }
    }
    free_block(block);
}

}  // namespace synth::base
