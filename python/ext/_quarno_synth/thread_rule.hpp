#pragma once
// A handle belongs to the thread that created it. Threads are told apart by
// process-wide numbers handed out on first need, starting at 1.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace synth::python {

std::uint64_t current_thread_number();

// True on the owner thread; otherwise false with a RuntimeError describing the
// refused call.
bool check_owner_thread(std::uint64_t owner);

// Reports through the unraisable hook that a handle is released on a foreign
// thread. Any exception already pending is kept.
void report_foreign_release();

}  // namespace synth::python
