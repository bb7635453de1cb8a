"""Gaussian Markov-switching model of log returns, fitted by Baum-Welch (EM).

The forward and backward passes are linear recurrences in the state probabilities, so they
are computed as prefix and suffix products of the per-bar transition matrices with a
log-depth scan (Hillis-Steele, batched 4x4 products); nothing loops over bars in Python but
the Viterbi backtrack. Every product is renormalised to sum 1 and its log scale carried, so
nothing underflows.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

MAX_ITER = 200
TOL = 1e-6  # relative change of the log-likelihood that ends EM
VAR_FLOOR = 1e-4  # a state's variance never falls below this share of the series variance
STAY = 0.98  # initial probability of staying in a state
_LOG_2PI = float(np.log(2.0 * np.pi))


@dataclass(frozen=True)
class HmmFit:
    means: np.ndarray  # (K,)
    variances: np.ndarray  # (K,)
    transitions: np.ndarray  # (K, K), rows sum to 1
    initial: np.ndarray  # (K,)
    loglik: float
    posteriors: np.ndarray  # (T, K)
    iterations: int

    @property
    def states(self) -> int:
        return len(self.means)

    def bic(self, bars: int) -> float:
        k = self.states
        params = 2 * k + k * (k - 1) + (k - 1)
        return -2.0 * self.loglik + params * float(np.log(bars))


def _emissions(
    r: np.ndarray, means: np.ndarray, variances: np.ndarray
) -> tuple[np.ndarray, np.ndarray]:
    """Gaussian densities (T, K), scaled so each row's largest is 1, and the log of the scales."""
    logp = -0.5 * (_LOG_2PI + np.log(variances) + (r[:, None] - means) ** 2 / variances)
    top = logp.max(axis=1)
    return np.exp(logp - top[:, None]), top


def _chain(v0: np.ndarray, mats: np.ndarray) -> tuple[np.ndarray, float]:
    """Row vectors v_t = v_{t-1} M_t for t = 1..n, each normalised to sum 1, and
    log sum(v0 M_1 ... M_n).

    Blocked in about sqrt(n) blocks of about sqrt(n) bars: the blocks' own products, then the
    vectors at the block starts one block after another, then every block's vectors at once.
    """
    n, k, _ = mats.shape
    size = max(1, int(np.ceil(np.sqrt(n))))
    blocks = -(-n // size)
    padded = np.empty((blocks * size, k, k))
    padded[:n] = mats
    padded[n:] = np.eye(k)
    per_block = padded.reshape(blocks, size, k, k)
    prods = np.broadcast_to(np.eye(k), (blocks, k, k)).copy()
    prod_logs = np.zeros(blocks)
    for j in range(size):
        prods = prods @ per_block[:, j]
        sums = prods.sum(axis=(1, 2))
        prods /= sums[:, None, None]
        prod_logs += np.log(sums)
    starts = np.empty((blocks, k))
    total = float(np.log(v0.sum()))
    vector = v0 / v0.sum()
    for b in range(blocks):
        starts[b] = vector
        vector = vector @ prods[b]
        scale = vector.sum()
        vector = vector / scale
        total += float(np.log(scale)) + float(prod_logs[b])
    out = np.empty((blocks, size, k))
    current = starts
    for j in range(size):
        current = (current[:, None, :] @ per_block[:, j])[:, 0]
        current /= current.sum(axis=1, keepdims=True)
        out[:, j] = current
    return out.reshape(blocks * size, k)[:n], total


def _e_step(
    r: np.ndarray, means: np.ndarray, variances: np.ndarray, trans: np.ndarray, initial: np.ndarray
) -> tuple[np.ndarray, np.ndarray, float]:
    b, btop = _emissions(r, means, variances)
    t = len(r)
    k = len(means)
    # forward: alpha_t = alpha_{t-1} M_t with M_t = A diag(b_t)
    mats = trans[None, :, :] * b[1:, None, :]
    alpha0 = initial * b[0]
    alpha = np.empty((t, k))
    alpha[0] = alpha0 / alpha0.sum()
    forward, loglik = _chain(alpha0, mats)
    alpha[1:] = forward
    # backward: beta_{t-1} = M_t beta_t, the forward chain of the transposes in reverse
    beta = np.empty((t, k))
    beta[-1] = 1.0 / k
    backward, _ = _chain(np.ones(k), mats[::-1].transpose(0, 2, 1))
    beta[:-1] = backward[::-1]
    gamma = alpha * beta
    gamma /= gamma.sum(axis=1, keepdims=True)
    # xi_t(i, j) ~ alpha_{t-1}(i) A_ij b_t(j) beta_t(j), each t normalised
    # summed over t as A * (alpha_{t-1}^T w_t) with w_t = b_t beta_t / norm_t
    ahead = b[1:] * beta[1:]
    norms = ((alpha[:-1] @ trans) * ahead).sum(axis=1)
    counts = trans * (alpha[:-1].T @ (ahead / norms[:, None]))
    return gamma, counts, loglik + float(btop.sum())


def _initial_guess(r: np.ndarray, k: int) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]:
    """States seeded by quantiles of a centred 21-bar rolling variance: calm to turbulent."""
    window = min(21, len(r))
    sq = np.convolve(r * r, np.ones(window) / window, mode="same")
    order = np.argsort(sq, kind="stable")
    groups = np.array_split(order, k)
    means = np.array([r[g].mean() for g in groups])
    variances = np.array([max(r[g].var(), 1e-300) for g in groups])
    trans = np.full((k, k), (1.0 - STAY) / max(k - 1, 1))
    np.fill_diagonal(trans, STAY if k > 1 else 1.0)
    initial = np.full(k, 1.0 / k)
    return means, variances, trans, initial


def fit_hmm(r: np.ndarray, k: int) -> HmmFit:
    """EM from the quantile start until the log-likelihood stops improving."""
    means, variances, trans, initial = _initial_guess(r, k)
    floor = VAR_FLOOR * float(r.var())
    previous = -np.inf
    loglik = -np.inf
    iterations = 0
    while iterations < MAX_ITER:
        iterations += 1
        gamma, counts, loglik = _e_step(r, means, variances, trans, initial)
        weights = gamma.sum(axis=0)
        means = gamma.T @ r / weights
        variances = np.maximum((gamma * (r[:, None] - means) ** 2).sum(axis=0) / weights, floor)
        trans = counts / counts.sum(axis=1, keepdims=True)
        initial = gamma[0]
        if abs(loglik - previous) <= TOL * abs(loglik):
            break
        previous = loglik
    gamma, _, loglik = _e_step(r, means, variances, trans, initial)
    # states in order of volatility, calm first
    order = np.argsort(variances, kind="stable")
    return HmmFit(
        means=means[order],
        variances=variances[order],
        transitions=trans[np.ix_(order, order)],
        initial=initial[order],
        loglik=loglik,
        posteriors=gamma[:, order],
        iterations=iterations,
    )


def viterbi(r: np.ndarray, fit: HmmFit) -> np.ndarray:
    """The most likely state path (T,) of the fitted model."""
    t = len(r)
    k = fit.states
    logb = -0.5 * (_LOG_2PI + np.log(fit.variances) + (r[:, None] - fit.means) ** 2 / fit.variances)
    with np.errstate(divide="ignore"):
        loga = np.log(fit.transitions)
        delta0 = np.log(fit.initial) + logb[0]
    back = np.empty((t, k), dtype=np.intp)
    delta = delta0
    # one vectorised max per bar over the K x K candidates; K is at most 4
    for i in range(1, t):
        cand = delta[:, None] + loga
        back[i] = cand.argmax(axis=0)
        delta = cand.max(axis=0) + logb[i]
    path = np.empty(t, dtype=np.intp)
    path[-1] = int(delta.argmax())
    for i in range(t - 1, 0, -1):
        path[i - 1] = back[i, path[i]]
    return path


def select(r: np.ndarray, regimes: int | str) -> tuple[HmmFit, dict[int, float]]:
    """The fit with ``regimes`` states, or with the lowest BIC among 1..4 for "auto"."""
    if regimes == "auto":
        fits = {k: fit_hmm(r, k) for k in range(1, 5)}
        bics = {k: fit.bic(len(r)) for k, fit in fits.items()}
        best = min(bics, key=lambda k: (bics[k], k))
        return fits[best], bics
    fit = fit_hmm(r, int(regimes))
    return fit, {fit.states: fit.bic(len(r))}
