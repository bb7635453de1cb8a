#include "generate/dynamics.hpp"

#include <cmath>

#include "generate/streams.hpp"

namespace synth::generate {

std::vector<RegimeDynamics> regime_dynamics(const std::vector<spec::Regime>& regimes) {
    std::vector<RegimeDynamics> out;
    out.reserve(regimes.size());
    for (const spec::Regime& r : regimes) {
        RegimeDynamics d;
        if (r.garch && (r.garch->alpha != 0.0 || r.garch->gamma != 0.0 || r.garch->beta != 0.0)) {
            d.garch = true;
            d.alpha = r.garch->alpha;
            d.gamma = r.garch->gamma;
            d.beta = r.garch->beta;
            d.omega = (r.vol * r.vol) * (((1.0 - d.alpha) - (d.gamma * 0.5)) - d.beta);
        }
        if (r.tails) {
            d.tails = true;
            d.df_minus_2 = r.tails->df - 2.0;
            d.gamma_d = (r.tails->df * 0.5) - (1.0 / 3.0);
            d.gamma_c = 1.0 / std::sqrt(d.gamma_d * 9.0);
        }
        if (r.jumps && r.jumps->rate > 0.0) {
            d.jumps = true;
            d.jump_limit = std::exp(-r.jumps->rate);
            d.jump_mean = r.jumps->mean;
            d.jump_vol = r.jumps->vol;
        }
        d.active = d.garch || d.tails || d.jumps;
        out.push_back(d);
    }
    return out;
}

bool any_active(const std::vector<RegimeDynamics>& dynamics) {
    for (const RegimeDynamics& d : dynamics) {
        if (d.active) return true;
    }
    return false;
}

bool any_garch(const std::vector<RegimeDynamics>& dynamics) {
    for (const RegimeDynamics& d : dynamics) {
        if (d.garch) return true;
    }
    return false;
}

DynamicStreams DynamicStreams::from_seed(std::uint64_t seed) {
    return {stream_rng(seed, Stream::tails), PolarNormals{}, stream_rng(seed, Stream::jumps)};
}

double PolarNormals::next(SeededRng& rng) {
    if (has_spare_) {
        has_spare_ = false;
        return spare_;
    }
    for (;;) {
        const double u = (rng.next_f64() * 2.0) - 1.0;
        const double v = (rng.next_f64() * 2.0) - 1.0;
        const double s = (u * u) + (v * v);
        if (s >= 1.0 || s == 0.0) continue;
        const double m = std::sqrt((std::log(s) * -2.0) / s);
        spare_ = v * m;
        has_spare_ = true;
        return u * m;
    }
}

double draw_gamma(double d, double c, PolarNormals& normals, SeededRng& rng) {
    for (;;) {
        const double x = normals.next(rng);
        double v = (c * x) + 1.0;
        if (!(v > 0.0)) continue;
        v = (v * v) * v;
        const double u = rng.next_f64();
        const double x2 = x * x;
        if (u < 1.0 - ((0.0331 * x2) * x2)) return d * v;
        if (std::log(u) < ((x2 * 0.5) + (d * ((1.0 - v) + std::log(v))))) return d * v;
    }
}

std::uint64_t draw_poisson(double limit, SeededRng& rng) {
    // Ends at the latest when the running product reaches exactly 0.
    double p = 1.0;
    std::uint64_t n = 0;
    do {
        p = p * rng.next_f64();
        n = n + 1;
    } while (p > limit);
    return n - 1;
}

BarMove draw_dynamic_move(const spec::Regime& regime, const RegimeDynamics& dynamics, double open,
                          double anchor, bool first_bar, VarianceCarry& carry,
                          DynamicStreams& streams, SeededRng& rng) {
    BarMove move;
    move.open = open;
    move.z = rng.next_normal();

    // Innovation: the classic normal, or a unit-variance Student-t made from it.
    double e = move.z;
    if (dynamics.tails) {
        const double chi2 =
            draw_gamma(dynamics.gamma_d, dynamics.gamma_c, streams.tails_normals, streams.tails) *
            2.0;
        e = move.z * std::sqrt(dynamics.df_minus_2 / chi2);
    }

    // Conditional variance: GJR recursion on the previous bar's shock and
    // variance, whatever regime that bar was in.
    double sigma2 = regime.vol * regime.vol;
    double sigma = regime.vol;
    if (dynamics.garch && !first_bar) {
        const double weight = carry.shock < 0.0 ? dynamics.alpha + dynamics.gamma : dynamics.alpha;
        sigma2 = (dynamics.omega + (weight * (carry.shock * carry.shock))) +
                 (dynamics.beta * carry.sigma2);
        sigma = std::sqrt(sigma2);
    }
    const double shock = e * sigma;
    carry.sigma2 = sigma2;
    carry.shock = shock;

    move.sigma = sigma;
    move.f = regime_return(regime.kind, regime.drift, e, sigma, open, anchor);

    if (dynamics.jumps) {
        const std::uint64_t count = draw_poisson(dynamics.jump_limit, streams.jumps);
        double jump = 0.0;
        for (std::uint64_t k = 0; k < count; ++k) {
            jump = jump + ((streams.jumps.next_normal() * dynamics.jump_vol) + dynamics.jump_mean);
        }
        move.jump = jump;
        move.f = move.f + jump;
    }

    // Volume follows the size of the whole shock in units of the regime's vol
    // (|e| for a regime of vol 0, where there is no unit).
    const double size = regime.vol > 0.0 ? std::fabs(shock + move.jump) / regime.vol : std::fabs(e);
    finish_candle(move, sigma, size, rng);
    return move;
}

}  // namespace synth::generate
