#pragma once
// One column of a batch: a growable array of plain values whose storage is
// left uninitialised until written, so reserving a large column costs nothing
// until its pages are filled, and handing it to a reader needs no copy.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <type_traits>

#include "base/huge_pages.hpp"

namespace synth::generate {

template <class T>
class Column {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    Column() = default;
    Column(Column&&) noexcept = default;
    Column& operator=(Column&&) noexcept = default;
    Column(const Column&) = delete;
    Column& operator=(const Column&) = delete;

    // Room for `capacity` values in all; the values already held are kept.
    void reserve(std::size_t capacity) {
        if (capacity <= capacity_) return;
        auto larger = std::make_unique_for_overwrite<T[]>(capacity);
        advise_huge_pages(larger.get(), capacity * sizeof(T));
        if (size_ != 0) std::memcpy(larger.get(), data_.get(), size_ * sizeof(T));
        data_ = std::move(larger);
        capacity_ = capacity;
    }

    // Room for `total` values, growing geometrically, so that asking bar by
    // bar for a little more stays linear.
    void ensure(std::size_t total) {
        if (total > capacity_) reserve(std::max({total, capacity_ * 2, std::size_t{16}}));
    }

    void push_back(T value) {
        if (size_ == capacity_) ensure(size_ + 1);
        data_[size_++] = value;
    }

    // Forgets the values, keeps the storage.
    void clear() { size_ = 0; }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return capacity_; }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    std::span<const T> view() const { return {data_.get(), size_}; }

  private:
    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace synth::generate
