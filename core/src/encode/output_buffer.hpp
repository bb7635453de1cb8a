#pragma once
// The response text under construction. Records are formatted into a small
// in-object chunk and appended to the text a chunk at a time, so the text is
// written once and never zero-filled, and every record only needs a bounds check.
#include <cstddef>
#include <cstring>
#include <string>

namespace synth::encode {

// Room that any single record writer may need at once: the longest trade or
// candle object with its event wrapper and separator, numbers of the longest
// form (json::kMaxNumberChars), and the bytes a number writer may store past
// the end of its text.
inline constexpr std::size_t kRecordRoom = 256;

class OutputBuffer {
  public:
    // reserve: the expected final length, allocated once up front.
    explicit OutputBuffer(std::size_t reserve) { reserve_text(text_, reserve); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // A cursor with at least kRecordRoom writable bytes; hand the end of what
    // was written back with advance().
    char* room() { return room(kRecordRoom); }
    // The same with `bytes` writable bytes, for a run of records written at once;
    // `bytes` is at most kMaxRoom.
    char* room(std::size_t bytes) {
        if (static_cast<std::size_t>(chunk_ + sizeof chunk_ - cursor_) < bytes) flush();
        return cursor_;
    }
    static constexpr std::size_t kMaxRoom = 16384;
    void advance(char* end) { cursor_ = end; }

    // Bytes written so far.
    std::size_t size() const { return text_.size() + static_cast<std::size_t>(cursor_ - chunk_); }

    std::string take() {
        flush();
        return std::move(text_);
    }

  private:
    void flush();
    static void reserve_text(std::string& text, std::size_t capacity);

    std::string text_;
    char* cursor_ = chunk_;
    char chunk_[kMaxRoom];
};

// Copies a literal without its terminating zero.
template <std::size_t N>
inline char* put(char* p, const char (&literal)[N]) {
    std::memcpy(p, literal, N - 1);
    return p + (N - 1);
}

}  // namespace synth::encode
