#include "thread_rule.hpp"

#include <atomic>

namespace synth::python {

std::uint64_t current_thread_number() {
    static std::atomic<std::uint64_t> next{1};
    thread_local std::uint64_t number = 0;
    if (number == 0) number = next.fetch_add(1, std::memory_order_relaxed);
    return number;
}

// The texts below ("unsendable", "ThreadId(n)", "assertion `left == right` failed") are a
// frozen part of the protocol, pinned by tests: docs/protocol.md lists them.
bool check_owner_thread(std::uint64_t owner) {
    const std::uint64_t caller = current_thread_number();
    if (caller == owner) return true;
    PyErr_Format(PyExc_RuntimeError,
                 "assertion `left == right` failed: _quarno_synth::PySynth is unsendable, but "
                 "sent to another thread\n  left: ThreadId(%llu)\n right: ThreadId(%llu)",
                 static_cast<unsigned long long>(caller), static_cast<unsigned long long>(owner));
    return false;
}

void report_foreign_release() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_SetString(PyExc_RuntimeError,
                    "_quarno_synth::PySynth is unsendable, but is being dropped on another thread");
    PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type, value, traceback);
}

}  // namespace synth::python
