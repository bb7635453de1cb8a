#include "synth_type.hpp"

#include <atomic>
#include <cstdint>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "arguments.hpp"
#include "common/busy_guard.hpp"
#include "common/errors.hpp"
#include "synth/synth.hpp"
#include "text.hpp"
#include "thread_rule.hpp"

namespace synth::python {
namespace {

struct Handle {
    protocol::SynthState state;
    // 0 while idle, -1 while a command runs.
    std::atomic<std::int64_t> busy{0};
    std::uint64_t owner = 0;
};

struct PySynth {
    PyObject ob_base;
    Handle handle;  // constructed in place once the object is allocated
};

Handle& handle_of(PyObject* self) {
    return reinterpret_cast<PySynth*>(self)->handle;
}

// Spec errors are ValueError here: the package turns them into SynthError, so
// this module never imports the package.
void raise_spec_error(const spec::SynthError& error) {
    ext::raise_error(PyExc_ValueError, error);
}

PyObject* synth_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* arg = single_argument(args, kwargs, "Synth.__new__()", "spec_json");
    if (arg == nullptr) return nullptr;
    std::string_view text;
    if (!utf8_argument(arg, "spec_json", text)) return nullptr;

    std::optional<protocol::SynthState> state;
    try {
        auto opened = protocol::open_state(text);
        if (!opened) {
            raise_spec_error(opened.error());
            return nullptr;
        }
        state.emplace(std::move(opened).value());
    } catch (const std::bad_alloc&) {
        // No C++ exception may cross into the interpreter.
        return PyErr_NoMemory();
    }

    auto base_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
    PyObject* no_args = PyTuple_New(0);
    if (no_args == nullptr) return nullptr;
    PyObject* self = base_new(type, no_args, nullptr);
    Py_DECREF(no_args);
    if (self == nullptr) return nullptr;

    Handle* handle = new (&handle_of(self)) Handle{};
    handle->state = std::move(*state);
    handle->owner = current_thread_number();
    return self;
}

void synth_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Handle& handle = handle_of(self);
    if (handle.owner != current_thread_number()) report_foreign_release();
    // The state is plain data with no tie to its thread, and nothing else can
    // reach the handle any more, so it is released here on every thread rather
    // than leaked.
    handle.~Handle();
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

PyObject* synth_command(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg = single_argument(args, kwargs, "Synth.command()", "cmd_json");
    if (arg == nullptr) return nullptr;
    Handle& handle = handle_of(self);
    if (!check_owner_thread(handle.owner)) return nullptr;

    if (!ext::claim<std::int64_t>(handle.busy, 0, -1)) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return nullptr;
    }
    ext::BusyGuard<std::int64_t> guard(handle.busy, 0);

    std::string_view text;
    if (!utf8_argument(arg, "cmd_json", text)) return nullptr;
    // The interpreter lock stays held: the dispatcher never calls back into Python.
    protocol::Response response = protocol::command(handle.state, text);
    if (response.status == protocol::Response::Status::out_of_memory) {
        if (response.text.empty()) return PyErr_NoMemory();
        PyObject* message = to_str(response.text);
        if (message != nullptr) {
            PyErr_SetObject(PyExc_MemoryError, message);
            Py_DECREF(message);
        }
        return nullptr;
    }
    return to_str(response.text);
}

PyObject* synth_version(PyObject*, PyObject*) {
    return to_str(kVersion);
}

PyMethodDef synth_methods[] = {
    {"command", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(synth_command)),
     METH_VARARGS | METH_KEYWORDS,
     "command($self, cmd_json)\n--\n\n"
     "Apply a command JSON and return the resulting response JSON."},
    {"version", synth_version, METH_NOARGS | METH_STATIC, "version()\n--\n\nThe library version."},
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char kSynthDoc[] =
    "Synth(spec_json)\n--\n\n"
    "A synth driven by JSON commands.\n"
    "\n"
    "`unsendable`: the handle holds a stateful generator, so it is bound to the\n"
    "thread that created it.";

PyType_Slot synth_slots[] = {
    {Py_tp_doc, const_cast<char*>(kSynthDoc)},
    {Py_tp_new, reinterpret_cast<void*>(synth_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(synth_dealloc)},
    {Py_tp_methods, synth_methods},
    {0, nullptr},
};

// The "builtins." prefix gives the class the module name "builtins".
PyType_Spec synth_spec = {"builtins.Synth", sizeof(PySynth), 0, Py_TPFLAGS_DEFAULT, synth_slots};

}  // namespace

PyObject* synth_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type = PyType_FromSpec(&synth_spec);
        if (type == nullptr) return nullptr;
    }
    Py_INCREF(type);
    return type;
}

}  // namespace synth::python
