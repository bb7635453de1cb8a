// A columnar run made in batches of arbitrary sizes: the batches, joined, are
// the run made as one batch, bit for bit, and so are their CSV rows; a run
// that fails, fails alike whatever the batch sizes.
//
// Input: one byte n, then (n % 8) + 1 batch sizes of one byte each (1 to 64
// bars, used in turn), then a spec text in the data entry points' language.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "encode/csv.hpp"
#include "generate/memory_budget.hpp"
#include "generate/run.hpp"
#include "invariants.hpp"
#include "synth/columns.hpp"

using synth::fuzz::require;
using synth::generate::Column;
using synth::generate::ColumnBatch;

namespace {

// Small enough that every input runs in milliseconds.
constexpr std::uint64_t kMaxBars = 4096;
constexpr std::uint64_t kMaxDepth = 32;
constexpr double kMaxTradeRate = 64.0;

constexpr synth::encode::CsvTable kTables[] = {
    synth::encode::CsvTable::candles, synth::encode::CsvTable::trades,
    synth::encode::CsvTable::book, synth::encode::CsvTable::book_wide,
    synth::encode::CsvTable::funding};

// Every column of a batch appended to the bytes of its name's slot.
struct Joined {
    std::vector<std::string> columns = std::vector<std::string>(15);
    std::string csv[std::size(kTables)];

    template <class T>
    static void append(std::string& out, const Column<T>& c) {
        out.append(reinterpret_cast<const char*>(c.data()), c.size() * sizeof(T));
    }

    void add(const ColumnBatch& b) {
        std::size_t i = 0;
        append(columns[i++], b.ts);
        append(columns[i++], b.open);
        append(columns[i++], b.high);
        append(columns[i++], b.low);
        append(columns[i++], b.close);
        append(columns[i++], b.volume);
        append(columns[i++], b.level_price);
        append(columns[i++], b.level_qty);
        append(columns[i++], b.trade_ts);
        append(columns[i++], b.trade_seq);
        append(columns[i++], b.trade_price);
        append(columns[i++], b.trade_qty);
        append(columns[i++], b.trade_side);
        append(columns[i++], b.funding_ts);
        append(columns[i++], b.funding_rate);
        for (std::size_t t = 0; t < std::size(kTables); ++t) {
            csv[t] += synth::encode::encode_csv(b, kTables[t]);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t count = data[0] % 8 + 1;
    if (size < 1 + count) return 0;
    std::vector<std::uint64_t> sizes;
    sizes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) sizes.push_back(data[1 + i] % 64 + 1);
    std::string_view text(reinterpret_cast<const char*>(data) + 1 + count, size - 1 - count);

    auto spec = synth::protocol::extended_spec_from_text(text);
    if (!spec) return 0;
    const auto& micro = spec.value().microstructure;
    if (spec.value().bars > kMaxBars || micro.book_depth > kMaxDepth ||
        !(micro.trade_rate <= kMaxTradeRate)) {
        return 0;
    }

    auto whole_run = synth::generate::Run::start(spec.value());
    auto pieces_run = synth::generate::Run::start(spec.value());
    require(whole_run.ok() == pieces_run.ok(), "starting the same spec twice differs");
    if (!whole_run) return 0;

    ColumnBatch whole;
    auto made = whole_run.value().advance(spec.value().bars, whole);

    Joined joined;
    ColumnBatch batch;
    std::uint64_t done = 0;
    std::optional<synth::spec::SynthError> failure;
    for (std::size_t turn = 0; done < spec.value().bars; ++turn) {
        auto step = pieces_run.value().advance(sizes[turn % sizes.size()], batch);
        if (!step) {
            failure = step.error();
            break;
        }
        require(batch.first_bar == done, "a batch does not start where the last ended");
        require(step.value() == batch.bars() && step.value() > 0, "batch bar count");
        done += step.value();
        joined.add(batch);
    }

    if (!made) {
        require(failure.has_value(), "the whole run fails but its batches do not",
                made.error().message);
        require(failure->kind == made.error().kind && failure->message == made.error().message,
                "batches fail with another error", failure->message);
        return 0;
    }
    require(!failure.has_value(), "batches fail where the whole run does not",
            failure ? std::string_view(failure->message) : std::string_view());
    Joined one;
    one.add(whole);
    for (std::size_t i = 0; i < one.columns.size(); ++i) {
        require(one.columns[i] == joined.columns[i], "joined batches differ from one batch",
                std::to_string(i));
    }
    for (std::size_t t = 0; t < std::size(kTables); ++t) {
        require(one.csv[t] == joined.csv[t], "joined CSV rows differ from one batch's",
                std::to_string(t));
    }
    return 0;
}
