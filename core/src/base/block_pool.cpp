#include "base/block_pool.hpp"

#include <array>
#include <cstdint>
#include <mutex>
#include <new>

#include "base/huge_pages.hpp"

namespace synth::base {
namespace {

// Blocks below this size come from the allocator's own free lists.
constexpr std::size_t kSmallest = std::size_t{1} << 16;
// A cached block serves a request of at least half its size.
constexpr std::size_t kMostWaste = 2;
// Blocks above this size (a whole long run's column) go back to the system:
// keeping them would hold on to a run's worth of memory after it is done.
constexpr std::size_t kLargest = std::size_t{64} << 20;
// Bound on what is kept while nobody uses it.
constexpr std::size_t kCacheBytes = std::size_t{256} << 20;
constexpr std::size_t kCacheSlots = 64;

struct Slot {
    Block block;
    std::uint64_t age = 0;  // when it was cached; the oldest goes first
};

struct Cache {
    std::mutex lock;
    std::array<Slot, kCacheSlots> slots{};
    std::size_t bytes = 0;
    std::uint64_t clock = 0;
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
        Slot* best = nullptr;
        for (Slot& slot : c.slots) {
            const Block& b = slot.block;
            if (b.data != nullptr && b.bytes >= bytes && b.bytes / kMostWaste <= bytes &&
                (best == nullptr || b.bytes < best->block.bytes)) {
                best = &slot;
            }
        }
        if (best != nullptr) {
            const Block found = best->block;
            *best = Slot{};
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
    if (block.bytes < kSmallest || block.bytes > kLargest) {
        free_block(block);
        return;
    }
    // Blocks of sizes nobody asks for any more must not keep newer ones out:
    // the oldest are given back until the new one fits.
    std::array<Block, kCacheSlots> evicted{};
    std::size_t evicted_count = 0;
    {
        Cache& c = cache();
        std::lock_guard<std::mutex> hold(c.lock);
        Slot* free_slot = nullptr;
        for (;;) {
            free_slot = nullptr;
            Slot* oldest = nullptr;
            for (Slot& slot : c.slots) {
                if (slot.block.data == nullptr) {
                    free_slot = &slot;
                } else if (oldest == nullptr || slot.age < oldest->age) {
                    oldest = &slot;
                }
            }
            if (free_slot != nullptr && c.bytes + block.bytes <= kCacheBytes) break;
            evicted[evicted_count++] = oldest->block;
            c.bytes -= oldest->block.bytes;
            *oldest = Slot{};
        }
        *free_slot = Slot{block, ++c.clock};
        c.bytes += block.bytes;
    }
    // Outside the lock: giving memory back to the system can take a while.
    for (std::size_t i = 0; i < evicted_count; ++i) free_block(evicted[i]);
}

}  // namespace synth::base
