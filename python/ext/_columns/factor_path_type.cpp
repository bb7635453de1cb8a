#include "factor_path_type.hpp"

#include <cstring>
#include <optional>
#include <utility>

#include "common/module_objects.hpp"
#include "errors.hpp"

namespace synth::columns {
namespace {

PyObject* factor_path_type = nullptr;  // the type, owned by the module

struct PyFactorPath {
    PyObject ob_base;
    std::shared_ptr<const generate::FactorPath>* path;  // owned
};

const generate::FactorPath& path_of(PyObject* self) {
    return **reinterpret_cast<PyFactorPath*>(self)->path;
}

bool read_jumps(PyObject* jumps, std::optional<spec::CommonJumps>& out) {
    if (jumps == Py_None) return true;
    spec::CommonJumps j;
    if (!PyArg_ParseTuple(jumps, "ddd:jumps (rate, mean, vol)", &j.rate, &j.mean, &j.vol)) {
        return false;
    }
    out = j;
    return true;
}

PyObject* factor_path_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"seed", "count", "bars", "jumps", nullptr};
    PyObject* numbers[3] = {nullptr, nullptr, nullptr};
    PyObject* jumps = Py_None;
    if (!PyArg_ParseTupleAndKeywords(
            args, kwargs, "O!O!O!|O:FactorPath", const_cast<char**>(keywords), &PyLong_Type,
            &numbers[0], &PyLong_Type, &numbers[1], &PyLong_Type, &numbers[2], &jumps)) {
        return nullptr;
    }
    // Negative numbers raise OverflowError rather than wrap around.
    unsigned long long values[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        values[i] = PyLong_AsUnsignedLongLong(numbers[i]);
        if (values[i] == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
    }
    const unsigned long long seed = values[0];
    const unsigned long long count = values[1];
    const unsigned long long bars = values[2];
    spec::FactorSpec factors;
    factors.seed = seed;
    factors.count = count;
    factors.loadings.assign(count, 0.0);
    if (!read_jumps(jumps, factors.jumps)) return nullptr;
    if (auto valid = spec::validate_factors(factors); !valid) {
        raise_error(valid.error());
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        std::shared_ptr<const generate::FactorPath> path;
        bool out_of_memory = false;
        // Pure C++ work: other threads go on meanwhile.
        Py_BEGIN_ALLOW_THREADS;
        try {
            path = generate::FactorPath::draw(generate::factor_key(factors), bars);
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
        }
        Py_END_ALLOW_THREADS;
        if (out_of_memory) return PyErr_NoMemory();
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = alloc(type, 0);
        if (self == nullptr) return nullptr;
        reinterpret_cast<PyFactorPath*>(self)->path =
            new std::shared_ptr<const generate::FactorPath>(std::move(path));
        return self;
    });
}

void factor_path_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<PyFactorPath*>(self)->path;
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

PyObject* factor_path_shocks(PyObject* self, PyObject*) {
    const generate::FactorPath& path = path_of(self);
    return guarded([&] {
        const auto size = static_cast<Py_ssize_t>(path.bars() * path.key().count * sizeof(double));
        PyObject* bytes = PyBytes_FromStringAndSize(nullptr, size);
        if (bytes != nullptr && size != 0) {
            std::memcpy(PyBytes_AsString(bytes), path.shocks(0), static_cast<std::size_t>(size));
        }
        return bytes;
    });
}

PyObject* get_seed(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(path_of(self).key().seed);
}
PyObject* get_count(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(path_of(self).key().count);
}
PyObject* get_bars(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(path_of(self).bars());
}

PyMethodDef factor_path_methods[] = {
    {"shocks", factor_path_shocks, METH_NOARGS,
     "shocks($self, /)\n--\n\n"
     "The factor shocks as float64 bytes, bar by bar (count per bar, factor 0 first)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef factor_path_getset[] = {
    {"seed", get_seed, nullptr, "The factor seed.", nullptr},
    {"count", get_count, nullptr, "Factors per bar.", nullptr},
    {"bars", get_bars, nullptr, "Bars drawn.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char kFactorPathDoc[] =
    "FactorPath(seed, count, bars, jumps=None)\n--\n\n"
    "The shocks of a universe's factors for its first bars, drawn once (lock released) and\n"
    "read by every asset run given it as Run(..., factors=path). jumps is (rate, mean, vol)\n"
    "of the common jump on factor 0, or None.";

PyType_Slot factor_path_slots[] = {
    {Py_tp_doc, const_cast<char*>(kFactorPathDoc)},
    {Py_tp_new, reinterpret_cast<void*>(factor_path_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(factor_path_dealloc)},
    {Py_tp_methods, factor_path_methods},
    {Py_tp_getset, factor_path_getset},
    {0, nullptr},
};

PyType_Spec factor_path_spec = {"quarno_synth._columns.FactorPath", sizeof(PyFactorPath), 0,
                                Py_TPFLAGS_DEFAULT, factor_path_slots};

}  // namespace

bool init_factor_path_type(PyObject* module) {
    PyObject* type = PyType_FromSpec(&factor_path_spec);
    if (type == nullptr) return false;
    if (!ext::add_object(module, "FactorPath", type)) {
        Py_DECREF(type);
        return false;
    }
    factor_path_type = type;
    return true;
}

std::shared_ptr<const generate::FactorPath> factor_path_of(PyObject* object) {
    const int is_path = PyObject_IsInstance(object, factor_path_type);
    if (is_path <= 0) {
        if (is_path == 0) {
            PyErr_SetString(PyExc_TypeError, "factors must be a FactorPath or None");
        }
        return nullptr;
    }
    return *reinterpret_cast<PyFactorPath*>(object)->path;
}

}  // namespace synth::columns
