#include "batch_type.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "common/module_objects.hpp"
#include "common/text.hpp"
#include "errors.hpp"

namespace synth::columns {
namespace {

using generate::Column;
using generate::ColumnBatch;

PyObject* batch_type = nullptr;
PyObject* column_type = nullptr;

// A batch and the long book's key columns, made from it on first request.
struct BatchData {
    ColumnBatch batch;
    std::once_flag keys_once;
    std::unique_ptr<encode::LongBookKeys> keys;
};

struct PyBatch {
    PyObject ob_base;
    BatchData* data;  // owned
};

// A view of one column; keeps its batch alive while it or any buffer taken
// from it exists.
struct PyColumnBuffer {
    PyObject ob_base;
    PyObject* owner;
    void* data;
    Py_ssize_t length;    // values
    Py_ssize_t itemsize;  // bytes per value
    Py_ssize_t nbytes;
    Py_ssize_t one;  // the stride of the byte view
    const char* format;
};

// Where an empty column points: consumers may not accept a null address.
alignas(8) char empty_column[8];

struct ColumnView {
    void* data = nullptr;
    std::size_t size = 0;
    std::size_t itemsize = 0;
    const char* format = nullptr;
};

template <class T>
ColumnView view_of(Column<T>& c, const char* format) {
    return {c.data() != nullptr ? static_cast<void*>(c.data()) : empty_column, c.size(), sizeof(T),
            format};
}

constexpr std::string_view kKeyColumns[] = {"book_ts", "book_side", "book_level"};

// Fills the key columns once, with the lock released (they are as long as the
// level columns); false with MemoryError set.
bool ensure_keys(BatchData& d) {
    bool ok = true;
    PyThreadState* saved = PyEval_SaveThread();
    try {
        std::call_once(d.keys_once, [&d] {
            d.keys = std::make_unique<encode::LongBookKeys>(encode::long_book_keys(d.batch));
        });
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    PyEval_RestoreThread(saved);
    if (!ok) PyErr_NoMemory();
    return ok;
}

bool find_column(BatchData& d, std::string_view name, ColumnView& out) {
    if (std::find(std::begin(kKeyColumns), std::end(kKeyColumns), name) != std::end(kKeyColumns)) {
        if (!ensure_keys(d)) return false;
        encode::LongBookKeys& k = *d.keys;
        out = name == "book_ts"     ? view_of(k.ts, "q")
              : name == "book_side" ? view_of(k.side, "B")
                                    : view_of(k.level, "q");
        return true;
    }
    ColumnBatch& b = d.batch;
    const std::pair<std::string_view, ColumnView> columns[] = {
        {"ts", view_of(b.ts, "q")},
        {"open", view_of(b.open, "d")},
        {"high", view_of(b.high, "d")},
        {"low", view_of(b.low, "d")},
        {"close", view_of(b.close, "d")},
        {"volume", view_of(b.volume, "d")},
        {"level_price", view_of(b.level_price, "d")},
        {"level_qty", view_of(b.level_qty, "d")},
        {"snapshot_ts", view_of(b.book_times(), "q")},
        {"trade_ts", view_of(b.trade_ts, "q")},
        {"trade_ts_ns", view_of(b.trade_ts_ns, "q")},
        {"trade_seq", view_of(b.trade_seq, "Q")},
        {"trade_price", view_of(b.trade_price, "d")},
        {"trade_qty", view_of(b.trade_qty, "d")},
        {"trade_side", view_of(b.trade_side, "B")},
        {"funding_ts", view_of(b.funding_ts, "q")},
        {"funding_rate", view_of(b.funding_rate, "d")},
        // empty unless the run was made with labels
        {"label_regime", view_of(b.label_regime, "q")},
        {"label_kind", view_of(b.label_kind, "B")},
        {"label_sigma", view_of(b.label_sigma, "d")},
        {"label_jump", view_of(b.label_jump, "d")},
    };
    for (const auto& [key, view] : columns) {
        if (key == name) {
            out = view;
            return true;
        }
    }
    PyErr_Format(PyExc_KeyError, "no column '%.100s'", std::string(name).c_str());
    return false;
}

BatchData& data_of(PyObject* self) {
    return *reinterpret_cast<PyBatch*>(self)->data;
}

ColumnBatch& batch_of(PyObject* self) {
    return data_of(self).batch;
}

bool string_argument(PyObject* arg, const char* what, std::string_view& out) {
    if (!PyUnicode_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "%s must be a str", what);
        return false;
    }
    return ext::utf8_view(arg, out);
}

PyObject* batch_column(PyObject* self, PyObject* arg) {
    std::string_view name;
    if (!string_argument(arg, "column name", name)) return nullptr;
    ColumnView view;
    if (!find_column(data_of(self), name, view)) return nullptr;
    auto alloc = reinterpret_cast<allocfunc>(
        PyType_GetSlot(reinterpret_cast<PyTypeObject*>(column_type), Py_tp_alloc));
    PyObject* obj = alloc(reinterpret_cast<PyTypeObject*>(column_type), 0);
    if (obj == nullptr) return nullptr;
    auto* column = reinterpret_cast<PyColumnBuffer*>(obj);
    Py_INCREF(self);
    column->owner = self;
    column->data = view.data;
    column->length = static_cast<Py_ssize_t>(view.size);
    column->itemsize = static_cast<Py_ssize_t>(view.itemsize);
    column->nbytes = column->length * column->itemsize;
    column->one = 1;
    column->format = view.format;
    return obj;
}

PyObject* batch_csv(PyObject* self, PyObject* arg) {
    std::string_view name;
    if (!string_argument(arg, "table", name)) return nullptr;
    const std::optional<encode::CsvTable> table = encode::csv_table(name);
    if (!table) {
        PyErr_Format(PyExc_ValueError,
                     "no table %R (candles, labeled_candles, trades, book, book_wide, funding)",
                     arg);
        return nullptr;
    }
    if (*table == encode::CsvTable::labeled_candles && !batch_of(self).labels) {
        PyErr_SetString(PyExc_ValueError,
                        "the batch has no labels (make the run with labels=True)");
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        std::string text;
        // The batch never changes once handed out, so other threads may read
        // it meanwhile.
        PyThreadState* saved = PyEval_SaveThread();
        try {
            text = encode::encode_csv(batch_of(self), *table);
        } catch (...) {
            PyEval_RestoreThread(saved);
            throw;
        }
        PyEval_RestoreThread(saved);
        return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* size_of(std::size_t n) {
    return PyLong_FromSize_t(n);
}

PyObject* get_first_bar(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(batch_of(self).first_bar);
}
PyObject* get_bars(PyObject* self, void*) {
    return size_of(batch_of(self).bars());
}
PyObject* get_ticks(PyObject* self, void*) {
    return PyBool_FromLong(batch_of(self).tick_times);
}
PyObject* get_book_depth(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(batch_of(self).book_depth);
}
PyObject* get_trades(PyObject* self, void*) {
    return size_of(batch_of(self).trades());
}
PyObject* get_funding_points(PyObject* self, void*) {
    return size_of(batch_of(self).funding_points());
}
PyObject* get_labels(PyObject* self, void*) {
    return PyBool_FromLong(batch_of(self).labels);
}

void batch_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<PyBatch*>(self)->data;
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

PyMethodDef batch_methods[] = {
    {"column", batch_column, METH_O,
     "column($self, name, /)\n--\n\n"
     "The named column as a buffer (1-D, C-contiguous, writable) over the batch's memory.\n"
     "book_ts, book_side and book_level, the long book's keys, are made on first request."},
    {"csv", batch_csv, METH_O,
     "csv($self, table, /)\n--\n\n"
     "The batch's rows of a table (candles, labeled_candles, trades, book, book_wide,\n"
     "funding) as CSV bytes."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef batch_getset[] = {
    {"first_bar", get_first_bar, nullptr, "Index in the run of the batch's first bar.", nullptr},
    {"bars", get_bars, nullptr, "Bars in the batch.", nullptr},
    {"book_depth", get_book_depth, nullptr, "Levels per side of every book.", nullptr},
    {"ticks", get_ticks, nullptr, "Whether the batch comes from a run of the tick model.", nullptr},
    {"trades", get_trades, nullptr, "Trades in the batch.", nullptr},
    {"funding_points", get_funding_points, nullptr, "Funding points in the batch.", nullptr},
    {"labels", get_labels, nullptr, "Whether the label_* columns hold the bars' labels.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot batch_slots[] = {
    {Py_tp_doc, const_cast<char*>("Consecutive bars of a run, as columns.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(batch_dealloc)},
    {Py_tp_methods, batch_methods},
    {Py_tp_getset, batch_getset},
    {0, nullptr},
};

// Not creatable from Python: batches come from Run.next_batch.
PyType_Spec batch_spec = {"quarno_synth._columns.Batch", sizeof(PyBatch), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, batch_slots};

int column_getbuffer(PyObject* self, Py_buffer* view, int flags) {
    auto* c = reinterpret_cast<PyColumnBuffer*>(self);
    const bool typed = (flags & PyBUF_FORMAT) == PyBUF_FORMAT;
    view->buf = c->data;
    Py_INCREF(self);
    view->obj = self;
    view->len = c->nbytes;
    view->readonly = 0;
    // Without a format request the consumer sees plain bytes.
    view->itemsize = typed ? c->itemsize : 1;
    view->format = typed ? const_cast<char*>(c->format) : nullptr;
    view->ndim = 1;
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? (typed ? &c->length : &c->nbytes) : nullptr;
    view->strides =
        (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? (typed ? &c->itemsize : &c->one) : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

void column_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<PyColumnBuffer*>(self)->owner);
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

PyObject* column_length(PyObject* self, void*) {
    return PyLong_FromSsize_t(reinterpret_cast<PyColumnBuffer*>(self)->length);
}

PyGetSetDef column_getset[] = {
    {"length", column_length, nullptr, "Number of values.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot column_slots[] = {
    {Py_tp_doc, const_cast<char*>("One column of a batch, exported through the buffer protocol.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(column_dealloc)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(column_getbuffer)},
    {Py_tp_getset, column_getset},
    {0, nullptr},
};

PyType_Spec column_spec = {"quarno_synth._columns.ColumnBuffer", sizeof(PyColumnBuffer), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, column_slots};

bool add_type(PyObject* module, PyType_Spec* spec, PyObject*& slot) {
    if (slot == nullptr) {
        slot = PyType_FromSpec(spec);
        if (slot == nullptr) return false;
    }
    // The attribute is the name after the module path.
    const char* short_name = std::strrchr(spec->name, '.') + 1;
    return ext::add_object(module, short_name, slot);
}

}  // namespace

bool init_batch_types(PyObject* module) {
    return add_type(module, &batch_spec, batch_type) && add_type(module, &column_spec, column_type);
}

PyObject* new_batch(ColumnBatch&& batch) {
    auto data = std::make_unique<BatchData>();
    data->batch = std::move(batch);
    auto* type = reinterpret_cast<PyTypeObject*>(batch_type);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = alloc(type, 0);
    if (obj == nullptr) return nullptr;
    reinterpret_cast<PyBatch*>(obj)->data = data.release();
    return obj;
}

}  // namespace synth::columns
