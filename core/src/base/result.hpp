#pragma once
// A value or an error: how every failure travels up the chain. Nothing in core
// throws across a folder boundary.
#include <utility>
#include <variant>

namespace synth {

template <class E>
struct Err {
    E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class Result {
  public:
    Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    Result(Err<F> err) : data_(std::in_place_index<1>, std::move(err.error)) {}

    bool ok() const { return data_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(data_); }
    const T& value() const& { return std::get<0>(data_); }
    T&& value() && { return std::get<0>(std::move(data_)); }
    E& error() & { return std::get<1>(data_); }
    const E& error() const& { return std::get<1>(data_); }
    E&& error() && { return std::get<1>(std::move(data_)); }

  private:
    std::variant<T, E> data_;
};

// Success without a value.
struct Unit {};

}  // namespace synth
