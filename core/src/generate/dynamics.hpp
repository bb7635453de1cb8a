#pragma once
// The regime dynamics of the extended language: a GJR-GARCH conditional
// variance, Student-t innovations and compound Poisson jumps, each drawing
// from its own stream (streams.hpp). A bar of a regime without dynamics is the
// classic bar (candle.hpp), bit for bit.
#include <cstdint>
#include <vector>

#include "generate/candle.hpp"
#include "generate/rng.hpp"
#include "spec/model.hpp"

namespace synth::generate {

// A regime's dynamics, normalised at run start: a neutral member (garch with
// alpha = gamma = beta = 0, jumps with rate 0) is dropped, and each formula's
// constants are computed once.
struct RegimeDynamics {
    bool active = false;  // any member left: the bar takes the dynamic path

    bool garch = false;
    double omega = 0.0;  // vol^2 (1 - alpha - gamma/2 - beta)
    double alpha = 0.0;
    double gamma = 0.0;
    double beta = 0.0;

    bool tails = false;
    double df_minus_2 = 0.0;
    double gamma_d = 0.0;  // Marsaglia-Tsang d = df/2 - 1/3
    double gamma_c = 0.0;  // and c = 1 / sqrt(9 d)

    bool jumps = false;
    double jump_limit = 0.0;  // exp(-rate)
    double jump_mean = 0.0;
    double jump_vol = 0.0;
};

std::vector<RegimeDynamics> regime_dynamics(const std::vector<spec::Regime>& regimes);

// Whether any regime has dynamics, and whether any has a conditional variance
// (then every bar, classic ones too, hands its variance and shock on).
bool any_active(const std::vector<RegimeDynamics>& dynamics);
bool any_garch(const std::vector<RegimeDynamics>& dynamics);

// What a bar hands to the next: its variance and its shock sigma * e. The run
// starts with the first regime's vol^2.
struct VarianceCarry {
    double sigma2 = 0.0;
    double shock = 0.0;
};

// Normals by the polar method, in pairs, from one stream: half the logarithms
// and square roots of Box-Muller and no cosine. The second of a pair waits in
// `spare` for the next call (part of the run's state).
class PolarNormals {
  public:
    double next(SeededRng& rng);

  private:
    double spare_ = 0.0;
    bool has_spare_ = false;
};

// The extension streams of one run.
struct DynamicStreams {
    SeededRng tails;
    PolarNormals tails_normals;
    SeededRng jumps;
    static DynamicStreams from_seed(std::uint64_t seed);
};

// A classic bar's hand-over: variance vol^2, shock vol * z.
inline void carry_classic(VarianceCarry& carry, double vol, double z) {
    carry.sigma2 = vol * vol;
    carry.shock = z * vol;
}

// The bar of a regime with dynamics. Draws the classic stream exactly as a
// classic bar does (normal shock, range width, volume), the tails stream for
// the chi-square of a Student-t innovation and the jumps stream for the jump
// count and sizes. `first_bar`: the run's first bar, whose variance is vol^2.
BarMove draw_dynamic_move(const spec::Regime& regime, const RegimeDynamics& dynamics, double open,
                          double anchor, bool first_bar, VarianceCarry& carry,
                          DynamicStreams& streams, SeededRng& rng);

// A Gamma(d + 1/3) variate by Marsaglia and Tsang's method (shape above 1),
// its normals from `normals` and its uniforms from `rng`, the same stream.
double draw_gamma(double d, double c, PolarNormals& normals, SeededRng& rng);

// A Poisson count by the multiplication method: uniforms multiplied until the
// product is at most `limit` = exp(-rate).
std::uint64_t draw_poisson(double limit, SeededRng& rng);

}  // namespace synth::generate
