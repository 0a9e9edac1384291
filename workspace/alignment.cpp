#include "workspace/alignment.h"

#include "audio/wav_file.h"
#include "common/prefault.h"
#include "dsp/windowed_sinc.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>

namespace wavrell {

namespace {

/// The coarse search runs at about this rate (Hz): low enough for short
/// FFTs (whose planning, mostly the tables of sines, costs more than the
/// transforms), high enough to keep most of the energy of music.
constexpr double kCoarseRate = 4000;
/// Coarse peaks refined at the full rate: a periodic signal (a steady beat)
/// has several peaks of nearly the same height, and decimation may reorder
/// them.
constexpr int kCandidates = 3;
/// The full-rate search of a candidate looks at a stretch of this length
/// (the loudest of its overlap) for the best lag; the correlation reported
/// is then taken over the whole overlap at that lag.
constexpr double kSegmentSeconds = 3;
/// Frames per entry of the energy tables.
constexpr int64_t kEnergyBlock = 64;

/// FFTW's planner keeps global state and must not run on two threads at
/// once; executing a finished plan is safe anywhere.
std::mutex& planner_mutex() {
    static std::mutex m;
    return m;
}

struct FftwFree {
    void operator()(void* p) const { fftw_free(p); }
};
using FftwBuffer = std::unique_ptr<double[], FftwFree>;

/// n doubles aligned as FFTW's vector code wants them, faulted in at once
/// (fresh memory page by page costs more than the transforms here).
FftwBuffer fftw_buffer(size_t n) {
    void* p = fftw_malloc(sizeof(double) * std::max<size_t>(n, 1));
    if (!p) throw std::bad_alloc();
    prefault(p, sizeof(double) * n);
    return FftwBuffer(static_cast<double*>(p));
}

class Plan {
public:
    explicit Plan(fftw_plan p) : fplan(p) {
        if (!p) throw EAlignError(QStringLiteral("The FFT of the alignment could not be planned"));
    }
    ~Plan() {
        std::lock_guard<std::mutex> lock(planner_mutex());
        fftw_destroy_plan(fplan);
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
    fftw_plan get() const { return fplan; }

private:
    fftw_plan fplan;
};

/// Smallest length of at least n whose only prime factors are 2, 3, 5 and
/// 7, the lengths FFTW transforms fastest.
int64_t fft_length(int64_t n) {
    for (int64_t m = std::max<int64_t>(n, 1);; ++m) {
        int64_t r = m;
        for (int64_t p : {2, 3, 5, 7})
            while (r % p == 0) r /= p;
        if (r == 1) return m;
    }
}

/// Σ x[i] · y[i] in double. Four running sums, so that the additions of
/// neighbouring products overlap (and the compiler may pair them).
double dot(const float* x, const float* y, int64_t n) {
    if (n <= 0) return 0;
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    const int64_t quads = n / 4;
    for (int64_t q = 0; q < quads; ++q) {
        const float* a = x + 4 * q;
        const float* b = y + 4 * q;
        s0 += double(a[0]) * double(b[0]);
        s1 += double(a[1]) * double(b[1]);
        s2 += double(a[2]) * double(b[2]);
        s3 += double(a[3]) * double(b[3]);
    }
    for (int64_t i = 4 * quads; i < n; ++i) s0 += double(x[i]) * double(y[i]);
    return (s0 + s1) + (s2 + s3);
}

double sum_of_squares(const float* x, int64_t n) { return dot(x, x, n); }

/// c / √(ea · eb), limited to −1 … 1 against rounding; 0 when a part is
/// silent.
double normalized(double c, double ea, double eb) {
    const double den = ea * eb;
    if (!(den > 0)) return 0;
    return std::clamp(c / std::sqrt(den), -1.0, 1.0);
}

/// The frames n of file 1's stretch [0, L) whose partner n + d in file 2's
/// stretch [0, L) exists.
struct Overlap {
    int64_t lo, hi;
    Overlap(int64_t L, int64_t d) : lo(std::max<int64_t>(0, -d)), hi(std::min<int64_t>(L, L - d)) {}
    int64_t length() const { return std::max<int64_t>(0, hi - lo); }
};

/// One file's analysed stretch [0, L): its frames and the energy up to
/// every kEnergyBlock-th frame, from which the energy of any range comes
/// with a few frames' work.
struct Stretch {
    const float* x;
    int64_t L;
    std::vector<double> energy;  ///< entry k: Σ x² over the frames [0, k · kEnergyBlock)

    Stretch(const float* frames, int64_t length) : x(frames), L(length) {
        const int64_t blocks = L / kEnergyBlock;
        energy.resize(size_t(blocks) + 1);
        energy[0] = 0;
        for (int64_t k = 0; k < blocks; ++k)
            energy[size_t(k) + 1] = energy[size_t(k)] + sum_of_squares(x + k * kEnergyBlock, kEnergyBlock);
    }

    /// Σ x² over the frames [lo, hi).
    double energy_of(int64_t lo, int64_t hi) const {
        if (hi <= lo) return 0;
        const int64_t k1 = (lo + kEnergyBlock - 1) / kEnergyBlock, k2 = hi / kEnergyBlock;
        if (k1 >= k2) return sum_of_squares(x + lo, hi - lo);
        return energy[size_t(k2)] - energy[size_t(k1)] + sum_of_squares(x + lo, k1 * kEnergyBlock - lo) +
               sum_of_squares(x + k2 * kEnergyBlock, hi - k2 * kEnergyBlock);
    }
};

/// Sums of M frames in a row into out[0 … L / M), zeros after them up to
/// n: a decimation whose box filter keeps the low frequencies that carry
/// most of the energy. A lag of qM + p frames (0 ≤ p < M) shows in the sums
/// at q and q + 1, weighted (M − p) / M and p / M, so the coarse peak lies
/// within M frames of the true one.
void decimate(const Stretch& s, int M, double* out, int64_t n) {
    const int64_t blocks = s.L / M;
    for (int64_t k = 0; k < blocks; ++k) {
        double sum = 0;
        const float* p = s.x + k * M;
        for (int i = 0; i < M; ++i) sum += p[i];
        out[k] = sum;
    }
    std::fill(out + blocks, out + n, 0.0);
}

/// The circular correlation Σ a[k] · b[k + q] (q mod N) of two signals of
/// N values, through FFTs, unscaled (N times the true sums). `fill` writes a
/// into its first buffer and b into its second (N values each).
template <class Fill>
FftwBuffer circular_correlation(int64_t N, Fill&& fill) {
    const int64_t H = N / 2 + 1;
    // In place: each buffer holds a signal, then its spectrum.
    FftwBuffer fa = fftw_buffer(size_t(2 * H)), fb = fftw_buffer(size_t(2 * H));
    auto* A = reinterpret_cast<fftw_complex*>(fa.get());
    auto* B = reinterpret_cast<fftw_complex*>(fb.get());
    std::unique_ptr<Plan> forward, backward;
    {
        std::lock_guard<std::mutex> lock(planner_mutex());
        forward = std::make_unique<Plan>(fftw_plan_dft_r2c_1d(int(N), fa.get(), A, FFTW_ESTIMATE));
        backward = std::make_unique<Plan>(fftw_plan_dft_c2r_1d(int(N), A, fa.get(), FFTW_ESTIMATE));
    }
    fill(fa.get(), fb.get());
    fftw_execute_dft_r2c(forward->get(), fa.get(), A);
    fftw_execute_dft_r2c(forward->get(), fb.get(), B);
    // conj(A) · B transforms back to Σ a[k] · b[k + q] at q (mod N).
    for (int64_t k = 0; k < H; ++k) {
        const double re = A[k][0] * B[k][0] + A[k][1] * B[k][1];
        const double im = A[k][0] * B[k][1] - A[k][1] * B[k][0];
        A[k][0] = re;
        A[k][1] = im;
    }
    fftw_execute_dft_c2r(backward->get(), A, fa.get());
    return fa;
}

/// Correlation Σ a[k] · b[k + q] of the decimated signals of both stretches
/// for the lags q = −D … D (entry q + D), through FFTs of a length that holds
/// the whole linear correlation, so that no lag wraps around. Not
/// normalized: every lag searched overlaps at least half of the stretch, and
/// the coarse values only pick the candidates that the full rate judges.
std::vector<double> coarse_correlation(const Stretch& a, const Stretch& b, int M, int64_t D) {
    const int64_t Lc = a.L / M;
    const int64_t N = fft_length(Lc + D + 1);
    const FftwBuffer c = circular_correlation(N, [&](double* fa, double* fb) {
        decimate(a, M, fa, N);
        decimate(b, M, fb, N);
    });
    std::vector<double> out(size_t(2 * D + 1));
    for (int64_t q = -D; q <= D; ++q) out[size_t(q + D)] = c[size_t(q >= 0 ? q : N + q)];
    return out;
}

/// The lags of the largest coarse peaks by magnitude, at least three steps
/// apart.
std::vector<int64_t> coarse_candidates(const std::vector<double>& c, int64_t D) {
    std::vector<int64_t> picked;
    std::vector<bool> taken(c.size(), false);
    for (int n = 0; n < kCandidates; ++n) {
        int64_t best = -1;
        for (size_t i = 0; i < c.size(); ++i)
            if (!taken[i] && c[i] != 0 && (best < 0 || std::abs(c[i]) > std::abs(c[size_t(best)]))) best = int64_t(i);
        if (best < 0) break;
        picked.push_back(best - D);
        for (int64_t i = std::max<int64_t>(0, best - 2); i <= std::min<int64_t>(int64_t(c.size()) - 1, best + 2); ++i)
            taken[size_t(i)] = true;
    }
    return picked;
}

struct Peak {
    int64_t lag = 0;
    double r = 0;  ///< over the whole overlap, signed
};

/// Normalized correlation at lag d over the whole overlap.
double full_correlation(const Stretch& a, const Stretch& b, int64_t d) {
    const Overlap o(a.L, d);
    if (o.length() <= 0) return 0;
    return normalized(dot(a.x + o.lo, b.x + o.lo + d, o.length()), a.energy_of(o.lo, o.hi),
                      b.energy_of(o.lo + d, o.hi + d));
}

/// The best lag of one sign within d1 … d2 at the full rate, judged on the
/// loudest stretch of file 1 that all these lags overlap.
Peak refine(const Stretch& a, const Stretch& b, int64_t d1, int64_t d2, double sign, int64_t segment) {
    const int64_t lo = std::max<int64_t>(0, -d1), hi = std::min<int64_t>(a.L, a.L - d2);
    if (hi <= lo) return {};
    const int64_t S = std::min(hi - lo, segment);
    // The loudest start, in steps of the energy table.
    int64_t n0 = lo;
    if (S < hi - lo) {
        const int64_t blocks = S / kEnergyBlock;
        double loudest = -1;
        for (int64_t k = (lo + kEnergyBlock - 1) / kEnergyBlock;
             k * kEnergyBlock + S <= hi && k + blocks < int64_t(a.energy.size()); ++k) {
            const double e = a.energy[size_t(k + blocks)] - a.energy[size_t(k)];
            if (e > loudest) {
                loudest = e;
                n0 = k * kEnergyBlock;
            }
        }
    }
    const double ea = a.energy_of(n0, n0 + S);
    double eb = b.energy_of(n0 + d1, n0 + d1 + S);
    Peak best;
    double bestScore = -2;
    for (int64_t d = d1; d <= d2; ++d) {
        if (d > d1) {
            // The stretch of file 2 moves on by one frame.
            const double out = b.x[n0 + d - 1], in = b.x[n0 + d + S - 1];
            eb = std::max(0.0, eb - out * out + in * in);
        }
        const double r = normalized(dot(a.x + n0, b.x + n0 + d, S), ea, eb);
        if (sign * r > bestScore) {
            bestScore = sign * r;
            best.lag = d;
        }
    }
    best.r = full_correlation(a, b, best.lag);
    return best;
}

/// Σ x[i] · y[i + q] for q = 0 … ny − n through FFTs of a length holding
/// the whole linear correlation.
std::vector<double> excerpt_correlation(const float* x, int64_t n, const float* y, int64_t ny) {
    const int64_t N = fft_length(ny + 1);
    const FftwBuffer c = circular_correlation(N, [&](double* fa, double* fb) {
        std::fill(fa + n, fa + N, 0.0);
        std::fill(fb + ny, fb + N, 0.0);
        std::copy(x, x + n, fa);
        std::copy(y, y + ny, fb);
    });
    std::vector<double> out(size_t(ny - n + 1));
    for (size_t q = 0; q < out.size(); ++q) out[q] = c[q] / double(N);
    return out;
}

/// The peak of sign × the band-limited function through c[k] at k (whole
/// lags) between k0 − 1 and k0 + 1, by golden-section search of its
/// windowed-sinc interpolation.
double interpolated_peak(const std::vector<double>& c, int64_t k0, double sign) {
    const int64_t lo = std::max<int64_t>(0, k0 - kSincHalfWidth), hi = std::min<int64_t>(int64_t(c.size()) - 1, k0 + kSincHalfWidth);
    const auto at = [&](double t) {
        double s = 0;
        for (int64_t k = lo; k <= hi; ++k) s += c[size_t(k)] * windowed_sinc(t - double(k));
        return sign * s;
    };
    const double phi = (std::sqrt(5.0) - 1) / 2;
    double a = double(k0) - 1, b = double(k0) + 1;
    double u = b - phi * (b - a), v = a + phi * (b - a);
    double fu = at(u), fv = at(v);
    for (int i = 0; i < 48 && b - a > 1e-6; ++i) {
        if (fu > fv) {
            b = v;
            v = u;
            fv = fu;
            u = b - phi * (b - a);
            fu = at(u);
        } else {
            a = u;
            u = v;
            fu = fv;
            v = a + phi * (b - a);
            fv = at(v);
        }
    }
    return (a + b) / 2;
}

}  // namespace

TExcerptPlace locate_excerpt(const float* x, int64_t n, const float* y, int64_t ny, double sign) {
    TExcerptPlace place;
    if (n <= 0 || ny < n) return place;
    const double ex = sum_of_squares(x, n);
    if (!(ex > 0)) return place;
    const std::vector<double> c = excerpt_correlation(x, n, y, ny);
    int64_t best = 0;
    for (size_t q = 1; q < c.size(); ++q)
        if (sign * c[q] > sign * c[size_t(best)]) best = int64_t(q);
    const double ey = sum_of_squares(y + best, n);
    if (!(ey > 0)) return place;
    // The whole lags around the peak exactly, in double: the interpolation
    // needs them free of the transforms' rounding.
    std::vector<double> exact(c.size(), 0.0);
    for (int64_t q = std::max<int64_t>(0, best - kSincHalfWidth);
         q <= std::min<int64_t>(int64_t(c.size()) - 1, best + kSincHalfWidth); ++q)
        exact[size_t(q)] = dot(x, y + q, n);
    place.found = true;
    place.r = normalized(exact[size_t(best)], ex, ey);
    place.lag = interpolated_peak(exact, best, sign);
    return place;
}

std::shared_ptr<const TAlignSignal> make_align_signal(const TWav& wav) {
    auto s = std::make_shared<TAlignSignal>();
    s->sampfreq = wav.sampfreq();
    s->nsamples = wav.nsamples();
    if (wav.sampfreq() <= 0 || wav.nsamples() <= 0 || wav.samples().empty()) return s;
    const int64_t frames = std::min<int64_t>(wav.nsamples(), std::llround(kAlignSpanSeconds * wav.sampfreq()));
    s->sum.reserve(size_t(frames));
    prefault(s->sum.data(), size_t(frames) * sizeof(float));
    s->sum.resize(size_t(frames));
    float* out = s->sum.data();
    const auto& rows = wav.samples();
    for (size_t c = 0; c < rows.size(); ++c) {
        const int16_t* in = rows[c].data();
        const int64_t n = std::min<int64_t>(frames, int64_t(rows[c].size()));
        if (c == 0) {
            for (int64_t i = 0; i < n; ++i) out[i] = float(in[i]);
            std::fill(out + n, out + frames, 0.0f);
        } else {
            for (int64_t i = 0; i < n; ++i) out[i] += float(in[i]);
        }
    }
    return s;
}

TAlignment estimate_alignment(const TAlignSignal& file1, const TAlignSignal& file2) {
    TAlignment res;
    res.sampfreq1 = file1.sampfreq;
    res.sampfreq2 = file2.sampfreq;
    if (file1.sampfreq != file2.sampfreq) {
        res.status = asratesdiffer;
        return res;
    }
    const int32_t fs = file1.sampfreq;
    const int64_t L = std::min<int64_t>(int64_t(file1.sum.size()), int64_t(file2.sum.size()));
    if (fs <= 0 || L < std::max<int64_t>(2, std::llround(kAlignMinSeconds * fs))) {
        res.status = astooshort;
        return res;
    }
    const Stretch a(file1.sum.data(), L), b(file2.sum.data(), L);
    if (!(a.energy_of(0, L) > 0) || !(b.energy_of(0, L) > 0)) {
        res.status = asweak;  // silence correlates with nothing
        return res;
    }
    // At least half of the analysed stretch overlaps at every lag searched.
    const int64_t maxlag = std::min<int64_t>(std::llround(kAlignMaxSeconds * fs), L / 2);
    const int M = std::max(1, int(std::lround(fs / kCoarseRate)));
    const int64_t D = std::min<int64_t>(maxlag / M + 1, L / M / 2);
    const std::vector<double> coarse = coarse_correlation(a, b, M, D);

    Peak best;
    for (const int64_t q : coarse_candidates(coarse, D)) {
        const double sign = coarse[size_t(q + D)] < 0 ? -1.0 : 1.0;
        // The true lag lies within M frames of the coarse one; twice that
        // leaves room for a coarse peak that noise moved by one step.
        const int64_t d1 = std::max(-maxlag, q * M - 2 * M), d2 = std::min(maxlag, q * M + 2 * M);
        if (d1 > d2) continue;
        const Peak p = refine(a, b, d1, d2, sign, std::llround(kSegmentSeconds * fs));
        if (std::abs(p.r) > std::abs(best.r)) best = p;
    }
    res.r = std::abs(best.r);
    if (res.r < kAlignMinCorrelation) {
        res.status = asweak;
        return res;
    }
    res.status = asaligned;
    res.offset = best.lag;
    res.inverted = best.r < 0;
    return res;
}

}  // namespace wavrell
