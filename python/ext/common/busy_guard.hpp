#pragma once
// A handle runs one call at a time. A call claims the handle's flag by swapping
// its idle value for its busy value; the guard puts the idle value back on every
// way out of the call. `_quarno_synth` keeps an int64 flag (0 idle, -1 busy),
// `_columns` a bool: the template serves both.
#include <atomic>

namespace synth::ext {

// True when the flag held `idle` and now holds `busy`.
template <class T>
bool claim(std::atomic<T>& flag, T idle, T busy) {
    T expected = idle;
    return flag.compare_exchange_strong(expected, busy);
}

template <class T>
class BusyGuard {
  public:
    BusyGuard(std::atomic<T>& flag, T idle) : flag_(flag), idle_(idle) {}
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
    ~BusyGuard() { flag_.store(idle_); }

  private:
    std::atomic<T>& flag_;
    T idle_;
};

}  // namespace synth::ext
