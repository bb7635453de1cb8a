#include "run_type.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "batch_type.hpp"
#include "errors.hpp"
#include "synth/columns.hpp"

namespace synth::columns {
namespace {

// Draws per chunk of a batch between two looks at pending signals: about ten
// milliseconds of work, so Ctrl-C stops even one huge batch promptly.
constexpr std::uint64_t kDrawsPerChunk = 1u << 20;

struct RunState {
    generate::Run run;
    std::atomic<bool> busy{false};
    // Bars handed out so far; read by other threads while a batch is made.
    std::atomic<std::uint64_t> bars_done{0};
    bool interrupted = false;
};

struct PyRun {
    PyObject ob_base;
    RunState* state;  // owned
};

RunState& state_of(PyObject* self) {
    return *reinterpret_cast<PyRun*>(self)->state;
}

const spec::GenSpec& spec_of(PyObject* self) {
    return state_of(self).run.spec();
}

// Clears the busy flag on every way out of next_batch.
class BusyGuard {
  public:
    explicit BusyGuard(std::atomic<bool>& busy) : busy_(busy) {}
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
    ~BusyGuard() { busy_.store(false); }

  private:
    std::atomic<bool>& busy_;
};

PyObject* run_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"spec_json", "document", nullptr};
    const char* data = nullptr;
    Py_ssize_t size = 0;
    int document = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s#|$p:Run", const_cast<char**>(keywords), &data,
                                     &size, &document)) {
        return nullptr;
    }
    const std::string_view text(data, static_cast<std::size_t>(size));
    return guarded([&]() -> PyObject* {
        auto spec = document ? protocol::extended_spec_from_document(text)
                             : protocol::extended_spec_from_text(text);
        if (!spec) {
            raise_error(spec.error());
            return nullptr;
        }
        auto run = generate::Run::start(spec.value());
        if (!run) {
            raise_error(run.error());
            return nullptr;
        }
        std::unique_ptr<RunState> state(new RunState{std::move(run).value()});
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = alloc(type, 0);
        if (self == nullptr) return nullptr;
        reinterpret_cast<PyRun*>(self)->state = state.release();
        return self;
    });
}

void run_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<PyRun*>(self)->state;
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

// Bars per chunk for this run's draws per bar (Poisson trades counted at
// their mean, three draws each).
std::uint64_t chunk_bars(const spec::GenSpec& spec) {
    const auto& micro = spec.microstructure;
    const double trades = generate::mean_trades_per_bar(micro.trade_rate);
    const double draws = 4.0 + 2.0 * static_cast<double>(micro.book_depth) + 3.0 * trades + 1.0;
    return static_cast<std::uint64_t>(std::max(1.0, static_cast<double>(kDrawsPerChunk) / draws));
}

// Fills the batch chunk by chunk with the lock released; between chunks the
// lock is taken back to look for a pending signal. nullptr with an exception
// set on failure.
PyObject* fill_batch(RunState& state, std::uint64_t count) {
    auto batch = std::make_unique<generate::ColumnBatch>();
    generate::Run& run = state.run;
    const std::uint64_t chunk = chunk_bars(run.spec());
    std::optional<spec::SynthError> failure;
    bool out_of_memory = false;

    PyThreadState* saved = PyEval_SaveThread();
    try {
        run.begin_batch(count, *batch);
    } catch (const std::bad_alloc&) {
        // Nothing was drawn yet: the run can still go on with smaller batches.
        PyEval_RestoreThread(saved);
        return PyErr_NoMemory();
    }
    std::uint64_t made = 0;
    while (!failure && made < count) {
        try {
            auto step = run.extend(std::min(chunk, count - made), *batch);
            if (!step) {
                failure = std::move(step).error();
                break;
            }
            made += step.value();
        } catch (const std::bad_alloc&) {
            // Part of a chunk was drawn and lost: the run cannot resume.
            out_of_memory = true;
            break;
        }
        if (made == count) break;
        PyEval_RestoreThread(saved);
        if (PyErr_CheckSignals() < 0) {
            // The bars of the abandoned chunk are gone: the run cannot resume.
            state.interrupted = true;
            return nullptr;
        }
        saved = PyEval_SaveThread();
    }
    PyEval_RestoreThread(saved);

    if (out_of_memory) {
        state.interrupted = true;
        return PyErr_NoMemory();
    }
    if (failure) {
        raise_error(*failure);
        return nullptr;
    }
    state.bars_done.store(run.bars_done());
    return new_batch(std::move(*batch));
}

PyObject* run_next_batch(PyObject* self, PyObject* arg) {
    const long long max_bars = PyLong_AsLongLong(arg);
    if (max_bars == -1 && PyErr_Occurred()) return nullptr;
    if (max_bars < 1) {
        PyErr_SetString(PyExc_ValueError, "max_bars must be at least 1");
        return nullptr;
    }
    RunState& state = state_of(self);
    bool idle = false;
    if (!state.busy.compare_exchange_strong(idle, true)) {
        PyErr_SetString(PyExc_RuntimeError, "Run is already generating on another thread");
        return nullptr;
    }
    BusyGuard guard(state.busy);
    if (state.interrupted) {
        PyErr_SetString(PyExc_RuntimeError, "run was interrupted");
        return nullptr;
    }
    generate::Run& run = state.run;
    // A failed run keeps answering its error.
    if (run.bars_left() == 0) Py_RETURN_NONE;
    const std::uint64_t count =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(max_bars), run.bars_left());
    const auto& micro = run.spec().microstructure;
    if (auto budget = generate::check_batch_budget(count, micro.book_depth, micro.trade_rate,
                                                   generate::physical_memory_bytes());
        !budget) {
        raise_error(budget.error());
        return nullptr;
    }
    return guarded([&] { return fill_batch(state, count); });
}

PyObject* get_bars(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(spec_of(self).bars);
}
PyObject* get_book_depth(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(spec_of(self).microstructure.book_depth);
}
PyObject* get_start_ts(PyObject* self, void*) {
    return PyLong_FromLongLong(spec_of(self).start_ts);
}
PyObject* get_bar_secs(PyObject* self, void*) {
    return PyLong_FromLongLong(spec_of(self).bar_secs);
}
PyObject* get_seed(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(spec_of(self).seed);
}
PyObject* get_trade_rate(PyObject* self, void*) {
    return PyFloat_FromDouble(spec_of(self).microstructure.trade_rate);
}
PyObject* get_has_funding(PyObject* self, void*) {
    return PyBool_FromLong(spec_of(self).microstructure.funding.has_value());
}
PyObject* get_funding_interval(PyObject* self, void*) {
    const auto& funding = spec_of(self).microstructure.funding;
    return PyLong_FromUnsignedLongLong(funding ? funding->interval_bars : 0);
}
PyObject* get_bars_done(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(state_of(self).bars_done.load());
}
PyObject* get_bars_left(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(spec_of(self).bars - state_of(self).bars_done.load());
}
PyObject* get_bar_bytes(PyObject* self, void*) {
    const auto& micro = spec_of(self).microstructure;
    const auto bytes = generate::estimate_batch_bytes(1, micro.book_depth, micro.trade_rate);
    return bytes ? PyLong_FromUnsignedLongLong(*bytes) : PyFloat_FromDouble(HUGE_VAL);
}

PyMethodDef run_methods[] = {
    {"next_batch", run_next_batch, METH_O,
     "next_batch($self, max_bars, /)\n--\n\n"
     "The next batch of at most max_bars bars, or None once the run is complete."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef run_getset[] = {
    {"seed", get_seed, nullptr, "The spec's seed.", nullptr},
    {"bars", get_bars, nullptr, "Bars of the whole run.", nullptr},
    {"book_depth", get_book_depth, nullptr, "Levels per side of every book.", nullptr},
    {"start_ts", get_start_ts, nullptr, "Timestamp of the first bar, seconds.", nullptr},
    {"bar_secs", get_bar_secs, nullptr, "Seconds between bars.", nullptr},
    {"trade_rate", get_trade_rate, nullptr, "Mean trades per bar.", nullptr},
    {"has_funding", get_has_funding, nullptr, "Whether the spec asks for funding.", nullptr},
    {"funding_interval", get_funding_interval, nullptr, "Bars per funding interval (0: none).",
     nullptr},
    {"bars_done", get_bars_done, nullptr, "Bars handed out so far.", nullptr},
    {"bars_left", get_bars_left, nullptr, "Bars still to come.", nullptr},
    {"bar_bytes", get_bar_bytes, nullptr, "About the bytes one bar takes in a batch.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char kRunDoc[] =
    "Run(spec_json, *, document=False)\n--\n\n"
    "A generation run made batch by batch.\n"
    "\n"
    "spec_json is a spec text (document=False: read like Synth's constructor reads it, with\n"
    "line and column in errors) or one JSON document holding the spec (document=True: read\n"
    "like a command's \"spec\" member), in the extended language: the classic fields and\n"
    "the extension members. A rejected spec raises SynthError.";

PyType_Slot run_slots[] = {
    {Py_tp_doc, const_cast<char*>(kRunDoc)},
    {Py_tp_new, reinterpret_cast<void*>(run_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(run_dealloc)},
    {Py_tp_methods, run_methods},
    {Py_tp_getset, run_getset},
    {0, nullptr},
};

PyType_Spec run_spec = {"quarno_synth._columns.Run", sizeof(PyRun), 0, Py_TPFLAGS_DEFAULT,
                        run_slots};

}  // namespace

bool init_run_type(PyObject* module) {
    PyObject* type = PyType_FromSpec(&run_spec);
    if (type == nullptr) return false;
    if (PyModule_AddObject(module, "Run", type) < 0) {
        Py_DECREF(type);
        return false;
    }
    return true;
}

}  // namespace synth::columns
