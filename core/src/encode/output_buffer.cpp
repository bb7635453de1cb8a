#include "encode/output_buffer.hpp"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace synth::encode {

void OutputBuffer::flush() {
    const auto pending = static_cast<std::size_t>(cursor_ - chunk_);
    if (text_.capacity() - text_.size() < pending) {
        // The estimate fell short. Grow by a quarter rather than letting the
        // string double: the text is the largest allocation of a command.
        std::string larger;
        reserve_text(larger, text_.size() + pending + text_.size() / 4);
        larger.append(text_);
        text_.swap(larger);
    }
    text_.append(chunk_, pending);
    cursor_ = chunk_;
}

void OutputBuffer::reserve_text(std::string& text, std::size_t capacity) {
    text.reserve(capacity);
#if defined(MADV_HUGEPAGE)
    // A large response is fresh memory that is written once from start to end;
    // with 4 KiB pages a good part of that time goes to page faults. Asking for
    // huge pages is only a hint: without them nothing changes but the speed.
    constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
    if (text.capacity() < 4 * kHuge) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (begin + text.capacity()) & ~(kHuge - 1);
    if (last > first) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#endif
}

}  // namespace synth::encode
