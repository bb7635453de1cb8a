#pragma once
// The shared factors of a universe and how an asset's innovation mixes with
// them. The factor shocks of bar j are count normals from the factor stream
// (factor 0 first), plus on factor 0 the common jump of the bar, if any; they
// depend only on the factor seed, count and jumps, so every asset sees the same
// path. A path drawn once can be shared read-only by many runs; a run without
// one draws the same values itself, bar by bar.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "generate/rng.hpp"
#include "spec/factors.hpp"
#include "spec/model.hpp"

namespace synth::generate {

// What fixes a factor path: paths of equal keys agree on every bar they share.
struct FactorKey {
    std::uint64_t seed = 0;
    std::uint64_t count = 0;
    std::optional<spec::CommonJumps> jumps;
    bool operator==(const FactorKey&) const = default;
};

FactorKey factor_key(const spec::FactorSpec& factors);

// Draws the factor shocks bar by bar from the factor stream (6) and the jump
// stream (7), both seeded from the factor seed.
class FactorStream {
  public:
    explicit FactorStream(const FactorKey& key);
    // Writes the next bar's `count` shocks to `out`.
    void next(double* out);

  private:
    FactorKey key_;
    SeededRng shocks_;
    SeededRng jumps_;
};

// The shocks of the first `bars` bars, row by row (bar-major), immutable.
class FactorPath {
  public:
    // Throws std::bad_alloc when bars * count doubles do not fit.
    static std::shared_ptr<const FactorPath> draw(const FactorKey& key, std::uint64_t bars);

    const FactorKey& key() const { return key_; }
    std::uint64_t bars() const { return bars_; }
    const double* shocks(std::uint64_t bar) const { return values_.data() + bar * key_.count; }

  private:
    FactorPath(const FactorKey& key, std::uint64_t bars) : key_(key), bars_(bars) {}
    FactorKey key_;
    std::uint64_t bars_;
    std::vector<double> values_;
};

// An asset's mixing of its own shock with the factor shocks, per regime kind.
class FactorModel {
  public:
    // `shared` is used when its key matches and it covers `bars`; otherwise
    // the model draws the path itself.
    FactorModel(const spec::FactorSpec& factors, std::uint64_t bars,
                std::shared_ptr<const FactorPath> shared);

    // The standardised innovation of bar `bar` (bars come in order, each once):
    //   common = ((0.0 + L0 * F0) + L1 * F1) + ...   (factor 0 first)
    //   e = common + own * z,  own = sqrt(1.0 - (((0.0 + L0 * L0) + L1 * L1) + ...))
    // A kind whose loadings are all zero gives z itself. Terms of zero loading
    // are skipped: adding a signed zero to a sum that starts at +0.0 never
    // changes it, so the result is the same double.
    double innovation(spec::RegimeKind kind, std::uint64_t bar, double z);

    bool uses_shared_path() const { return shared_ != nullptr; }

  private:
    struct Weights {
        std::vector<std::uint32_t> factors;  // the factors of non-zero loading
        std::vector<double> loadings;        // their loadings
        double own = 1.0;
    };
    std::array<Weights, 4> kinds_;
    std::shared_ptr<const FactorPath> shared_;
    std::optional<FactorStream> stream_;
    std::vector<double> current_;
};

}  // namespace synth::generate
