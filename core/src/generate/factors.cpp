#include "generate/factors.hpp"

#include <cmath>
#include <new>

#include "generate/streams.hpp"

namespace synth::generate {

FactorKey factor_key(const spec::FactorSpec& factors) {
    return FactorKey{factors.seed, factors.count, factors.jumps};
}

FactorStream::FactorStream(const FactorKey& key)
    : key_(key),
      shocks_(stream_rng(key.seed, Stream::universe_factors)),
      jumps_(stream_rng(key.seed, Stream::universe_jumps)) {}

void FactorStream::next(double* out) {
    for (std::uint64_t k = 0; k < key_.count; ++k) {
        out[k] = shocks_.next_normal();
    }
    if (key_.jumps) {
        const spec::CommonJumps& j = *key_.jumps;
        // One uniform a bar; the jump's size only on a jump bar.
        if (jumps_.next_f64() < j.rate) {
            out[0] = out[0] + ((jumps_.next_normal() * j.vol) + j.mean);
        }
    }
}

std::shared_ptr<const FactorPath> FactorPath::draw(const FactorKey& key, std::uint64_t bars) {
    if (key.count != 0 && bars > SIZE_MAX / sizeof(double) / key.count) throw std::bad_alloc();
    std::shared_ptr<FactorPath> path(new FactorPath(key, bars));
    path->values_.resize(static_cast<std::size_t>(bars * key.count));
    FactorStream stream(key);
    for (std::uint64_t bar = 0; bar < bars; ++bar) {
        stream.next(path->values_.data() + bar * key.count);
    }
    return path;
}

namespace {

const std::optional<std::vector<double>>& kind_loadings(const spec::KindLoadings& regimes,
                                                        spec::RegimeKind kind) {
    switch (kind) {
        case spec::RegimeKind::trend:
            return regimes.trend;
        case spec::RegimeKind::range:
            return regimes.range;
        case spec::RegimeKind::crash:
            return regimes.crash;
        case spec::RegimeKind::vol:
            break;
    }
    return regimes.vol;
}

}  // namespace

FactorModel::FactorModel(const spec::FactorSpec& factors, std::uint64_t bars,
                         std::shared_ptr<const FactorPath> shared) {
    for (std::size_t i = 0; i < kinds_.size(); ++i) {
        const auto& specific = kind_loadings(factors.regimes, static_cast<spec::RegimeKind>(i));
        const std::vector<double>& all = specific ? *specific : factors.loadings;
        Weights& w = kinds_[i];
        double squares = 0.0;
        for (std::size_t k = 0; k < all.size(); ++k) {
            squares = squares + (all[k] * all[k]);
            if (all[k] != 0.0) {
                w.factors.push_back(static_cast<std::uint32_t>(k));
                w.loadings.push_back(all[k]);
            }
        }
        w.own = std::sqrt(1.0 - squares);
    }
    const FactorKey key = factor_key(factors);
    if (shared && shared->key() == key && shared->bars() >= bars) {
        shared_ = std::move(shared);
    } else {
        stream_.emplace(key);
        current_.resize(static_cast<std::size_t>(key.count));
    }
}

double FactorModel::innovation(spec::RegimeKind kind, std::uint64_t bar, double z) {
    const double* shocks = nullptr;
    if (shared_) {
        shocks = shared_->shocks(bar);
    } else {
        // Drawn on every bar, whatever the kind, so the path stays in step.
        stream_->next(current_.data());
        shocks = current_.data();
    }
    const Weights& w = kinds_[static_cast<std::size_t>(kind)];
    if (w.factors.empty()) return z;
    double common = 0.0;
    for (std::size_t i = 0; i < w.factors.size(); ++i) {
        common = common + (w.loadings[i] * shocks[w.factors[i]]);
    }
    return common + (w.own * z);
}

}  // namespace synth::generate
