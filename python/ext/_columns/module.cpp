// The columnar module: runs made batch by batch, with the interpreter lock
// released while bars are generated, and their columns handed out as buffers.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "batch_type.hpp"
#include "errors.hpp"
#include "factor_path_type.hpp"
#include "run_type.hpp"
#include "synth/columns.hpp"
#include "synth/synth.hpp"

namespace synth::columns {
namespace {

PyObject* csv_header(PyObject*, PyObject* args) {
    const char* name = nullptr;
    unsigned long long depth = 0;
    int ticks = 0;
    if (!PyArg_ParseTuple(args, "sK|p:csv_header", &name, &depth, &ticks)) return nullptr;
    const std::optional<encode::CsvTable> table = encode::csv_table(name);
    if (!table) {
        PyErr_Format(PyExc_ValueError, "no table '%s' (candles, trades, book, book_wide, funding)",
                     name);
        return nullptr;
    }
    if (*table == encode::CsvTable::book_wide) {
        if (auto budget =
                generate::check_wide_book_budget(depth, generate::physical_memory_bytes());
            !budget) {
            raise_error(budget.error());
            return nullptr;
        }
    }
    return guarded([&] {
        const std::string header = encode::csv_header(*table, depth, ticks != 0);
        return PyBytes_FromStringAndSize(header.data(), static_cast<Py_ssize_t>(header.size()));
    });
}

PyObject* check_wide_book(PyObject*, PyObject* arg) {
    const unsigned long long depth = PyLong_AsUnsignedLongLong(arg);
    if (depth == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
    if (auto budget = generate::check_wide_book_budget(depth, generate::physical_memory_bytes());
        !budget) {
        raise_error(budget.error());
        return nullptr;
    }
    Py_RETURN_NONE;
}

int exec_module(PyObject* module) {
    if (!load_synth_error() || !init_batch_types(module) || !init_run_type(module) ||
        !init_factor_path_type(module)) {
        return -1;
    }
    return PyModule_AddStringConstant(module, "__version__", std::string(kVersion).c_str());
}

PyMethodDef module_methods[] = {
    {"csv_header", csv_header, METH_VARARGS,
     "csv_header(table, book_depth, ticks=False, /)\n--\n\n"
     "The CSV header line of a table, with its line end; a tick run's trades have ts_ns.\n"
     "MemoryError for a wide book too large for this machine."},
    {"check_wide_book", check_wide_book, METH_O,
     "check_wide_book(book_depth, /)\n--\n\n"
     "MemoryError when a wide book of book_depth levels (4 * book_depth + 1 columns)\n"
     "cannot fit in this machine's memory, before anything is made."},
    {"fill_runs", fill_runs, METH_O,
     "fill_runs(runs, /)\n--\n\n"
     "Every bar of each fresh Run (one book depth), run after run, in one Batch made with the\n"
     "lock released; returns (batch, [(bars, trades, funding_points) per run])."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_columns",
    "Runs made batch by batch, their columns as buffers (`quarno_synth._columns`).",
    0,
    module_methods,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace synth::columns

PyMODINIT_FUNC PyInit__columns(void) {
    return PyModuleDef_Init(&synth::columns::module_def);
}
