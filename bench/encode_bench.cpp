// Times generation and both result encoders on fixed workloads, with the fast
// and the general (std::to_chars) float writer, and the float writer alone.
//
//   encode_bench            Markdown tables
//   encode_bench --json     one JSON object per line, for bench.py
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "encode/grouped.hpp"
#include "encode/stream.hpp"
#include "generate/generate.hpp"
#include "json/number_format.hpp"
#include "support/number_paths.hpp"

namespace {

// CPU time of this thread: the benchmark shares its machine, and wall time
// would mostly measure the neighbours.
struct Clock {
    using time_point = double;
    static double now() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
};
using synth::encode::NumberPath;

struct Workload {
    std::uint64_t bars;
    std::uint64_t depth;
    double trade_rate;
};

synth::spec::GenSpec make_spec(const Workload& w) {
    synth::spec::GenSpec spec;
    spec.seed = 42;
    spec.bars = w.bars;
    spec.start_price = 100.0;
    spec.regimes = {synth::spec::Regime{synth::spec::RegimeKind::trend, w.bars, 0.0, 0.01}};
    spec.microstructure.book_depth = w.depth;
    spec.microstructure.spread_bps = 5.0;
    spec.microstructure.trade_rate = w.trade_rate;
    spec.microstructure.funding = synth::spec::FundingSpec{8, 0.0001, 0.01};
    return spec;
}

double seconds_since(double start) {
    return Clock::now() - start;
}

struct Timing {
    double generate = 1e300;  // generator alone, the run's columns
    double fast = 1e300;      // writing the text, fast float path
    double general = 1e300;   // writing the text, std::to_chars float path
    std::size_t bytes = 0;
};

template <class Encode>
Timing run(const Workload& w, int repeats, Encode encode) {
    const synth::spec::GenSpec spec = make_spec(w);
    Timing t;
    for (int r = 0; r < repeats; ++r) {
        auto start = Clock::now();
        auto made = synth::generate::generate(spec);
        t.generate = std::min(t.generate, seconds_since(start));
        if (!made.ok()) {
            std::fprintf(stderr, "generate failed: %s\n", made.error().render().c_str());
            std::exit(1);
        }
        const synth::generate::ColumnBatch& run = made.value();
        start = Clock::now();
        const std::string fast = encode(run, NumberPath::fast);
        t.fast = std::min(t.fast, seconds_since(start));
        start = Clock::now();
        const std::string general = encode(run, NumberPath::general);
        t.general = std::min(t.general, seconds_since(start));
        if (fast != general) {
            std::fprintf(stderr, "number paths disagree\n");
            std::exit(1);
        }
        t.bytes = fast.size();
    }
    return t;
}

// Nanoseconds per value for one float writer over a list of values.
template <class Write>
double ns_per_value(const std::vector<double>& values, Write write) {
    char buf[64];
    double best = 1e300;
    std::size_t sink = 0;
    for (int r = 0; r < 5; ++r) {
        const auto start = Clock::now();
        for (double v : values) sink += static_cast<std::size_t>(write(buf, v) - buf);
        best = std::min(best, seconds_since(start));
    }
    if (sink == 42) std::puts("");  // keeps the loop
    return best * 1e9 / static_cast<double>(values.size());
}

std::vector<double> sample_values(double scale, double offset) {
    std::vector<double> v(1000000);
    std::uint64_t s = 88172645463325252ULL;
    for (double& x : v) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        const double u = static_cast<double>(s >> 11) * 0x1.0p-53;
        x = std::round((offset + u * scale) * 100000000.0) / 100000000.0;
    }
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    bool as_json = false;
    bool numbers_only = false;
    for (int i = 1; i < argc; ++i) {
        as_json = as_json || std::strcmp(argv[i], "--json") == 0;
        numbers_only = numbers_only || std::strcmp(argv[i], "--numbers") == 0;
    }
    const Workload workloads[] = {{100000, 1, 0.0}, {20000, 50, 2.0}, {20000, 5, 50.0}};
    const int repeats = 3;

    if (!as_json && !numbers_only) {
        std::puts(
            "| shape | bars | depth | rate | MB | generate ms | write ms (fast) "
            "| write ms (to_chars) | write MB/s (fast) | speed-up | bars/s end to end |");
        std::puts("|---|---|---|---|---|---|---|---|---|---|---|");
    }
    for (const Workload& w : workloads) {
        if (numbers_only) break;
        for (const char* shape : {"generate", "generate_stream"}) {
            const bool grouped = std::strcmp(shape, "generate") == 0;
            const Timing t =
                run(w, repeats, [grouped](const synth::generate::ColumnBatch& b, NumberPath p) {
                    return grouped ? synth::encode::encode_grouped(b, p)
                                   : synth::encode::encode_stream(b, p);
                });
            const double mb = static_cast<double>(t.bytes) / 1e6;
            const double total = t.generate + t.fast;
            if (as_json) {
                std::printf(
                    "{\"kind\":\"encode\",\"shape\":\"%s\",\"bars\":%llu,\"depth\":%llu,"
                    "\"rate\":%g,\"bytes\":%zu,\"generate_s\":%.6f,"
                    "\"fast_s\":%.6f,\"general_s\":%.6f}\n",
                    shape, static_cast<unsigned long long>(w.bars),
                    static_cast<unsigned long long>(w.depth), w.trade_rate, t.bytes, t.generate,
                    t.fast, t.general);
            } else {
                std::printf(
                    "| %s | %llu | %llu | %g | %.1f | %.1f | %.1f | %.1f | %.0f | "
                    "%.2fx | %.0f |\n",
                    shape, static_cast<unsigned long long>(w.bars),
                    static_cast<unsigned long long>(w.depth), w.trade_rate, mb, t.generate * 1e3,
                    t.fast * 1e3, t.general * 1e3, mb / t.fast, t.general / t.fast,
                    static_cast<double>(w.bars) / total);
            }
        }
    }

    struct Values {
        const char* name;
        std::vector<double> values;
    };
    const Values sets[] = {{"prices ~100", sample_values(20.0, 90.0)},
                           {"quantities <1e-5", sample_values(0.00001, 0.0)},
                           {"rates ~1e-4", sample_values(0.0002, -0.0001)}};
    if (!as_json) {
        std::puts("\n| values | ns/value (fast) | ns/value (to_chars) |");
        std::puts("|---|---|---|");
    }
    for (const Values& set : sets) {
        const double fast = ns_per_value(set.values, synth::json::write_f64);
        const double general = ns_per_value(set.values, synth::json::write_f64_general);
        if (as_json) {
            std::printf(
                "{\"kind\":\"number\",\"values\":\"%s\",\"fast_ns\":%.2f,\"general_ns\":%.2f}\n",
                set.name, fast, general);
        } else {
            std::printf("| %s | %.2f | %.2f |\n", set.name, fast, general);
        }
    }
    return 0;
}
