#include "run_type.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "batch_type.hpp"
#include "common/busy_guard.hpp"
#include "common/module_objects.hpp"
#include "errors.hpp"
#include "factor_path_type.hpp"
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

PyObject* run_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"spec_json", "document", "labels", "factors", nullptr};
    const char* data = nullptr;
    Py_ssize_t size = 0;
    int document = 0;
    int labels = 0;
    PyObject* factors = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s#|$ppO:Run", const_cast<char**>(keywords),
                                     &data, &size, &document, &labels, &factors)) {
        return nullptr;
    }
    std::shared_ptr<const generate::FactorPath> shared;
    if (factors != Py_None) {
        shared = factor_path_of(factors);
        if (!shared) return nullptr;
    }
    const std::string_view text(data, static_cast<std::size_t>(size));
    return guarded([&]() -> PyObject* {
        auto spec = document ? protocol::extended_spec_from_document(text)
                             : protocol::extended_spec_from_text(text);
        if (!spec) {
            raise_error(spec.error());
            return nullptr;
        }
        auto run = generate::Run::start(spec.value(), generate::RunOptions{labels != 0},
                                        std::move(shared));
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
std::uint64_t chunk_bars(const generate::Run& run) {
    const auto& micro = run.spec().microstructure;
    const double trades = generate::mean_trades_per_bar(micro.trade_rate, run.ticks());
    const double draws = 4.0 + 2.0 * static_cast<double>(micro.book_depth) + 3.0 * trades + 1.0;
    return static_cast<std::uint64_t>(std::max(1.0, static_cast<double>(kDrawsPerChunk) / draws));
}

// Fills the batch chunk by chunk with the lock released; between chunks the
// lock is taken back to look for a pending signal. nullptr with an exception
// set on failure.
PyObject* fill_batch(RunState& state, std::uint64_t count) {
    auto batch = std::make_unique<generate::ColumnBatch>();
    generate::Run& run = state.run;
    const std::uint64_t chunk = chunk_bars(run);
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
    if (!ext::claim(state.busy, false, true)) {
        PyErr_SetString(PyExc_RuntimeError, "Run is already generating on another thread");
        return nullptr;
    }
    ext::BusyGuard<bool> guard(state.busy, false);
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
                                                   generate::physical_memory_bytes(),
                                                   run.extra_bytes_per_bar(), run.ticks());
        !budget) {
        raise_error(budget.error());
        return nullptr;
    }
    return guarded([&] { return fill_batch(state, count); });
}

// Every bar of each fresh run, one run after another, into one batch: the
// columns of a block of assets sharing a book depth, made with the lock
// released (taken back between runs to look for a pending signal).
PyObject* fill_runs_body(PyObject* runs, PyObject* type) {
    if (!PyList_Check(runs)) {
        PyErr_SetString(PyExc_TypeError, "runs must be a list of Run");
        return nullptr;
    }
    const Py_ssize_t n = PyList_Size(runs);
    std::vector<RunState*> states;
    states.reserve(static_cast<std::size_t>(n));
    // The runs stay alive while the lock is released, whatever happens to the list.
    struct Owned {
        std::vector<PyObject*> objects;
        ~Owned() {
            for (PyObject* object : objects) Py_DECREF(object);
        }
    } owned;
    owned.objects.reserve(static_cast<std::size_t>(n));
    std::uint64_t bars = 0;
    double trade_rate_bars = 0.0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyList_GetItem(runs, i);  // borrowed
        if (PyObject_IsInstance(item, type) != 1) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "runs must hold Run objects");
            return nullptr;
        }
        Py_INCREF(item);
        owned.objects.push_back(item);
        RunState& state = state_of(item);
        const generate::Run& run = state.run;
        if (run.bars_done() != 0 || state.interrupted) {
            PyErr_SetString(PyExc_ValueError, "fill_runs takes fresh runs only");
            return nullptr;
        }
        if (!states.empty() && run.spec().microstructure.book_depth !=
                                   states.front()->run.spec().microstructure.book_depth) {
            PyErr_SetString(PyExc_ValueError, "the runs of one batch share a book depth");
            return nullptr;
        }
        if (!states.empty() && run.labels() != states.front()->run.labels()) {
            PyErr_SetString(PyExc_ValueError, "the runs of one batch all have labels or none");
            return nullptr;
        }
        bars += run.spec().bars;
        trade_rate_bars +=
            run.spec().microstructure.trade_rate * static_cast<double>(run.spec().bars);
        states.push_back(&state);
    }
    if (states.empty()) {
        PyErr_SetString(PyExc_ValueError, "fill_runs needs at least one run");
        return nullptr;
    }
    const auto& micro = states.front()->run.spec().microstructure;
    const double mean_rate = trade_rate_bars / static_cast<double>(bars);
    const generate::Run& first = states.front()->run;
    if (auto budget = generate::check_batch_budget(bars, micro.book_depth, mean_rate,
                                                   generate::physical_memory_bytes(),
                                                   first.extra_bytes_per_bar());
        !budget) {
        raise_error(budget.error());
        return nullptr;
    }
    for (std::size_t i = 0; i < states.size(); ++i) {
        if (!ext::claim(states[i]->busy, false, true)) {
            for (std::size_t j = 0; j < i; ++j) states[j]->busy.store(false);
            PyErr_SetString(PyExc_RuntimeError, "Run is already generating on another thread");
            return nullptr;
        }
    }
    struct Release {
        std::vector<RunState*>& states;
        ~Release() {
            for (RunState* state : states) state->busy.store(false);
        }
    } release{states};

    // One reservation for the block, made with the lock held (a failure is
    // MemoryError before anything is drawn): every run appends to it.
    std::size_t expected_trades = 0;
    std::size_t funding_points = 0;
    for (const RunState* state : states) {
        const generate::Run& run = state->run;
        const auto& funding = run.spec().microstructure.funding;
        expected_trades += run.expected_trades(run.spec().bars);
        funding_points += funding ? run.spec().bars / funding->interval_bars : 0;
    }
    auto batch = std::make_unique<generate::ColumnBatch>();
    batch->reset(0, bars, micro.book_depth, expected_trades, funding_points, first.labels());
    PyObject* counts = PyList_New(static_cast<Py_ssize_t>(states.size()));
    if (counts == nullptr) return nullptr;
    std::optional<spec::SynthError> failure;
    PyThreadState* saved = PyEval_SaveThread();
    std::size_t trades = 0;
    std::size_t funding = 0;
    for (std::size_t i = 0; i < states.size() && !failure; ++i) {
        generate::Run& run = states[i]->run;
        std::optional<Result<std::uint64_t, spec::SynthError>> made;
        try {
            made.emplace(run.extend(run.bars_left(), *batch));
        } catch (const std::bad_alloc&) {
            // Part of the run was drawn and lost: it cannot resume.
            PyEval_RestoreThread(saved);
            Py_DECREF(counts);
            for (std::size_t j = i; j < states.size(); ++j) states[j]->interrupted = true;
            return PyErr_NoMemory();
        }
        if (!*made) {
            failure = std::move(*made).error();
            break;
        }
        states[i]->bars_done.store(run.bars_done());
        const std::size_t run_trades = batch->trade_ts.size() - trades;
        const std::size_t run_funding = batch->funding_ts.size() - funding;
        trades += run_trades;
        funding += run_funding;
        PyEval_RestoreThread(saved);
        PyObject* entry = Py_BuildValue("(KKK)", static_cast<unsigned long long>(run.spec().bars),
                                        static_cast<unsigned long long>(run_trades),
                                        static_cast<unsigned long long>(run_funding));
        if (entry == nullptr || PyErr_CheckSignals() < 0) {
            Py_XDECREF(entry);
            Py_DECREF(counts);
            for (std::size_t j = i + 1; j < states.size(); ++j) states[j]->interrupted = true;
            return nullptr;
        }
        PyList_SetItem(counts, static_cast<Py_ssize_t>(i), entry);  // steals entry
        saved = PyEval_SaveThread();
    }
    PyEval_RestoreThread(saved);
    if (failure) {
        Py_DECREF(counts);
        raise_error(*failure);
        return nullptr;
    }
    batch->first_bar = 0;
    PyObject* made = new_batch(std::move(*batch));
    if (made == nullptr) {
        Py_DECREF(counts);
        return nullptr;
    }
    return Py_BuildValue("(NN)", made, counts);
}

PyObject* run_type_object = nullptr;  // the Run type, owned by the module

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
PyObject* get_labels(PyObject* self, void*) {
    return PyBool_FromLong(state_of(self).run.labels());
}
PyObject* get_ticks(PyObject* self, void*) {
    return PyBool_FromLong(state_of(self).run.ticks());
}
PyObject* get_bar_bytes(PyObject* self, void*) {
    const auto& micro = spec_of(self).microstructure;
    const auto bytes = generate::estimate_batch_bytes(1, micro.book_depth, micro.trade_rate,
                                                      state_of(self).run.extra_bytes_per_bar(),
                                                      state_of(self).run.ticks());
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
    {"labels", get_labels, nullptr, "Whether batches carry the bars' labels.", nullptr},
    {"bar_bytes", get_bar_bytes, nullptr, "About the bytes one bar takes in a batch.", nullptr},
    {"ticks", get_ticks, nullptr,
     "Whether the run follows the tick model (trades with ts_ns, book at the bar's close).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char kRunDoc[] =
    "Run(spec_json, *, document=False, labels=False, factors=None)\n--\n\n"
    "A generation run made batch by batch.\n"
    "\n"
    "spec_json is a spec text (document=False: read like Synth's constructor reads it, with\n"
    "line and column in errors) or one JSON document holding the spec (document=True: read\n"
    "like a command's \"spec\" member), in the extended language: the classic fields and\n"
    "the extension members. A rejected spec raises SynthError. labels=True fills every\n"
    "batch's label_regime, label_kind, label_sigma and label_jump columns. factors is a\n"
    "FactorPath that a spec with universe factors reads instead of drawing the same path itself.";

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
    if (!ext::add_object(module, "Run", type)) {
        Py_DECREF(type);
        return false;
    }
    run_type_object = type;
    return true;
}

PyObject* fill_runs(PyObject*, PyObject* runs) {
    return guarded([&] { return fill_runs_body(runs, run_type_object); });
}

}  // namespace synth::columns
