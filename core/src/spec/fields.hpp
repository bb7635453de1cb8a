#pragma once
// Which member of a record each field index names, and the word its errors
// expect: the one map both decoders read fields through. A decoder passes a
// reader with one call operator per member type:
//   (std::uint64_t&, std::string_view expected)  u64 and usize fields
//   (std::int64_t&), (double&), (RegimeKind&), (std::vector<Regime>&),
//   (Microstructure&), and (std::optional<R>&) for an optional record R
//   (null or absent: no record)
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
        default:
            return read(spec.microstructure);
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
        default:
            return read(micro.funding);
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

}  // namespace synth::spec
