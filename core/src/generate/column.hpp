#pragma once
// One column of a batch: a growable array of plain values whose storage is
// left uninitialised until written, so reserving a large column costs nothing
// until its pages are filled, and handing it to a reader needs no copy. Large
// storage comes from the block pool, so batch after batch reuses the same
// pages.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

#include "base/block_pool.hpp"

namespace synth::generate {

template <class T>
class Column {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    Column() = default;
    Column(Column&& other) noexcept
        : block_(std::exchange(other.block_, base::Block{})),
          size_(std::exchange(other.size_, 0)) {}
    Column& operator=(Column&& other) noexcept {
        if (this != &other) {
            base::release_block(block_);
            block_ = std::exchange(other.block_, base::Block{});
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    Column(const Column&) = delete;
    Column& operator=(const Column&) = delete;
    ~Column() { base::release_block(block_); }

    // Room for `capacity` values in all; the values already held are kept.
    void reserve(std::size_t capacity) {
        if (capacity <= this->capacity()) return;
        base::Block larger = base::acquire_block(capacity * sizeof(T));
        if (size_ != 0) std::memcpy(larger.data, block_.data, size_ * sizeof(T));
        base::release_block(block_);
        block_ = larger;
    }

    // Room for `total` values, growing geometrically, so that asking bar by
    // bar for a little more stays linear.
    void ensure(std::size_t total) {
        if (total > capacity()) reserve(std::max({total, capacity() * 2, std::size_t{16}}));
    }

    void push_back(T value) {
        if (size_ == capacity()) ensure(size_ + 1);
        data()[size_++] = value;
    }

    // Forgets the values, keeps the storage.
    void clear() { size_ = 0; }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return block_.bytes / sizeof(T); }
    T* data() { return static_cast<T*>(block_.data); }
    const T* data() const { return static_cast<const T*>(block_.data); }
    T& operator[](std::size_t i) { return data()[i]; }
    const T& operator[](std::size_t i) const { return data()[i]; }
    std::span<const T> view() const { return {data(), size_}; }

  private:
    base::Block block_;
    std::size_t size_ = 0;
};

}  // namespace synth::generate
