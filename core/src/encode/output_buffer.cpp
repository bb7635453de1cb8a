#include "encode/output_buffer.hpp"

#include "base/huge_pages.hpp"

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
    base::advise_huge_pages(text.data(), text.capacity());
}

}  // namespace synth::encode
