#pragma once
// Which member of a record each field index names, and the word its errors
// expect: the one map both decoders read fields through. A decoder passes a
// reader with one call operator per member type:
//   (std::uint64_t&, std::string_view expected)  u64 and usize fields
//   (std::int64_t&), (double&), (RegimeKind&), (Session&), (std::vector<Regime>&),
//   (Microstructure&), and (std::optional<R>&) for an optional record R
//   (null or absent: no record), (std::vector<double>&) and
//   (std::optional<std::vector<double>>&) number lists,
//   (std::vector<std::vector<double>>&) a list of rows of f64, (KindLoadings&)
#include <cstddef>

#include "spec/messages.hpp"
#include "spec/model.hpp"

namespace synth::spec {

template <class T>
struct RecordOf;
template <>
struct RecordOf<GenSpec> {
    static constexpr Record value = Record::GenSpec;
};
template <>
struct RecordOf<Regime> {
    static constexpr Record value = Record::Regime;
};
template <>
struct RecordOf<Microstructure> {
    static constexpr Record value = Record::Microstructure;
};
template <>
struct RecordOf<FundingSpec> {
    static constexpr Record value = Record::FundingSpec;
};
template <>
struct RecordOf<Garch> {
    static constexpr Record value = Record::Garch;
};
template <>
struct RecordOf<Tails> {
    static constexpr Record value = Record::Tails;
};
template <>
struct RecordOf<Jumps> {
    static constexpr Record value = Record::Jumps;
};
template <>
struct RecordOf<Ticks> {
    static constexpr Record value = Record::Ticks;
};
template <>
struct RecordOf<FactorSpec> {
    static constexpr Record value = Record::FactorSpec;
};
template <>
struct RecordOf<KindLoadings> {
    static constexpr Record value = Record::KindLoadings;
};
template <>
struct RecordOf<CommonJumps> {
    static constexpr Record value = Record::CommonJumps;
};
template <>
struct RecordOf<Chain> {
    static constexpr Record value = Record::Chain;
};

// `index` is below the record's field count.
template <class Reader>
auto read_field(GenSpec& spec, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(spec.seed, kExpectedU64);
        case 1:
            return read(spec.bars, kExpectedUsize);
        case 2:
            return read(spec.start_price);
        case 3:
            return read(spec.start_ts);
        case 4:
            return read(spec.bar_secs);
        case 5:
            return read(spec.regimes);
        case 6:
            return read(spec.microstructure);
        case 7:
            return read(spec.factors);
        default:
            return read(spec.chain);
    }
}

template <class Reader>
auto read_field(Regime& regime, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(regime.kind);
        case 1:
            return read(regime.len, kExpectedUsize);
        case 2:
            return read(regime.drift);
        case 3:
            return read(regime.vol);
        case 4:
            return read(regime.garch);
        case 5:
            return read(regime.tails);
        default:
            return read(regime.jumps);
    }
}

template <class Reader>
auto read_field(Microstructure& micro, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(micro.book_depth, kExpectedUsize);
        case 1:
            return read(micro.spread_bps);
        case 2:
            return read(micro.trade_rate);
        case 3:
            return read(micro.funding);
        default:
            return read(micro.ticks);
    }
}

template <class Reader>
auto read_field(Ticks& ticks, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(ticks.clustering);
        default:
            return read(ticks.session);
    }
}

template <class Reader>
auto read_field(FundingSpec& funding, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(funding.interval_bars, kExpectedUsize);
        case 1:
            return read(funding.base_rate);
        default:
            return read(funding.sensitivity);
    }
}

template <class Reader>
auto read_field(Garch& garch, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(garch.alpha);
        case 1:
            return read(garch.gamma);
        default:
            return read(garch.beta);
    }
}

template <class Reader>
auto read_field(Tails& tails, std::size_t, Reader&& read) {
    return read(tails.df);
}

template <class Reader>
auto read_field(Jumps& jumps, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(jumps.rate);
        case 1:
            return read(jumps.mean);
        default:
            return read(jumps.vol);
    }
}

template <class Reader>
auto read_field(FactorSpec& factors, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(factors.seed, kExpectedU64);
        case 1:
            return read(factors.count, kExpectedUsize);
        case 2:
            return read(factors.loadings);
        case 3:
            return read(factors.regimes);
        default:
            return read(factors.jumps);
    }
}

template <class Reader>
auto read_field(KindLoadings& loadings, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(loadings.trend);
        case 1:
            return read(loadings.range);
        case 2:
            return read(loadings.crash);
        default:
            return read(loadings.vol);
    }
}

template <class Reader>
auto read_field(CommonJumps& jumps, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(jumps.rate);
        case 1:
            return read(jumps.mean);
        default:
            return read(jumps.vol);
    }
}

template <class Reader>
auto read_field(Chain& chain, std::size_t index, Reader&& read) {
    switch (index) {
        case 0:
            return read(chain.states);
        case 1:
            return read(chain.transitions);
        default:
            return read(chain.start, kExpectedUsize);
    }
}

}  // namespace synth::spec
