#include "workspace/alignment.h"

#include "audio/wav_file.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>

namespace wavrell {

namespace {

/// The coarse search runs at about this rate (Hz): low enough for short
/// FFTs, high enough to keep most of the energy of music.
constexpr double kCoarseRate = 8000;
/// Coarse peaks refined at the full rate: a periodic signal (a steady beat)
/// has several peaks of nearly the same height, and decimation may reorder
/// them.
constexpr int kCandidates = 3;
/// The full-rate search of a candidate looks at a stretch of this length
/// (the loudest of its overlap) for the best lag; the correlation reported
/// is then taken over the whole overlap at that lag.
constexpr double kSegmentSeconds = 6;

/// FFTW's planner keeps global state and must not run on two threads at
/// once; executing a finished plan is safe anywhere.
std::mutex& planner_mutex() {
    static std::mutex m;
    return m;
}

struct FftwFree {
    void operator()(void* p) const { fftw_free(p); }
};
template <class T>
using FftwArray = std::unique_ptr<T[], FftwFree>;

/// An array aligned as FFTW's SIMD code wants it.
template <class T>
FftwArray<T> fftw_array(size_t n) {
    void* p = fftw_malloc(sizeof(T) * std::max<size_t>(n, 1));
    if (!p) throw std::bad_alloc();
    return FftwArray<T>(static_cast<T*>(p));
}

class Plan {
public:
    explicit Plan(fftw_plan p) : fplan(p) {
        if (!p) throw EAlignError(QStringLiteral("The FFT for the alignment could not be planned"));
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
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += double(x[i]) * double(y[i]);
        s1 += double(x[i + 1]) * double(y[i + 1]);
        s2 += double(x[i + 2]) * double(y[i + 2]);
        s3 += double(x[i + 3]) * double(y[i + 3]);
    }
    for (; i < n; ++i) s0 += double(x[i]) * double(y[i]);
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

/// Sums of M frames in a row: a decimation whose box filter keeps the low
/// frequencies that carry most of the energy. A lag of file 2 of qM + p
/// frames (0 ≤ p < M) shows in the sums at q and q + 1, weighted (M − p) / M
/// and p / M, so the coarse peak lies within M frames of the true one.
std::vector<double> decimate(const float* x, int64_t L, int M) {
    std::vector<double> out(size_t(L / M));
    for (size_t k = 0; k < out.size(); ++k) {
        double s = 0;
        const float* p = x + int64_t(k) * M;
        for (int i = 0; i < M; ++i) s += p[i];
        out[k] = s;
    }
    return out;
}

std::vector<double> prefix_squares(const std::vector<double>& x) {
    std::vector<double> p(x.size() + 1, 0.0);
    for (size_t i = 0; i < x.size(); ++i) p[i + 1] = p[i] + x[i] * x[i];
    return p;
}

/// Normalized correlation of the decimated signals for the lags −D … D
/// (entry q + D), through FFTs of a length that holds the whole linear
/// correlation, so no lag wraps around.
std::vector<double> coarse_correlation(const std::vector<double>& a, const std::vector<double>& b, int64_t D) {
    const int64_t Lc = int64_t(a.size());
    const int64_t N = fft_length(Lc + D + 1);
    const int64_t H = N / 2 + 1;
    auto in = fftw_array<double>(size_t(N));
    auto A = fftw_array<fftw_complex>(size_t(H));
    auto B = fftw_array<fftw_complex>(size_t(H));
    std::unique_ptr<Plan> forward, backward;
    {
        std::lock_guard<std::mutex> lock(planner_mutex());
        forward = std::make_unique<Plan>(fftw_plan_dft_r2c_1d(int(N), in.get(), A.get(), FFTW_ESTIMATE));
        backward = std::make_unique<Plan>(fftw_plan_dft_c2r_1d(int(N), A.get(), in.get(), FFTW_ESTIMATE));
    }
    auto transform = [&](const std::vector<double>& x, fftw_complex* out) {
        std::copy(x.begin(), x.end(), in.get());
        std::fill(in.get() + x.size(), in.get() + N, 0.0);
        fftw_execute_dft_r2c(forward->get(), in.get(), out);
    };
    transform(a, A.get());
    transform(b, B.get());
    // conj(A) · B transforms back to Σ a[k] · b[k + q] at q (mod N).
    for (int64_t k = 0; k < H; ++k) {
        const double re = A[k][0] * B[k][0] + A[k][1] * B[k][1];
        const double im = A[k][0] * B[k][1] - A[k][1] * B[k][0];
        A[k][0] = re;
        A[k][1] = im;
    }
    fftw_execute_dft_c2r(backward->get(), A.get(), in.get());

    const std::vector<double> pa = prefix_squares(a), pb = prefix_squares(b);
    std::vector<double> r(size_t(2 * D + 1));
    for (int64_t q = -D; q <= D; ++q) {
        const Overlap o(Lc, q);
        double c = 0, ea = 0, eb = 0;
        if (o.length() > 0) {
            c = in[size_t(q >= 0 ? q : N + q)] / double(N);
            ea = pa[size_t(o.hi)] - pa[size_t(o.lo)];
            eb = pb[size_t(o.hi + q)] - pb[size_t(o.lo + q)];
        }
        r[size_t(q + D)] = normalized(c, ea, eb);
    }
    return r;
}

/// The lags of the largest coarse peaks by magnitude, at least three steps
/// apart.
std::vector<int64_t> coarse_candidates(const std::vector<double>& r, int64_t D) {
    std::vector<int64_t> picked;
    std::vector<bool> taken(r.size(), false);
    for (int n = 0; n < kCandidates; ++n) {
        int64_t best = -1;
        for (size_t i = 0; i < r.size(); ++i)
            if (!taken[i] && r[i] != 0 && (best < 0 || std::abs(r[i]) > std::abs(r[size_t(best)]))) best = int64_t(i);
        if (best < 0) break;
        picked.push_back(best - D);
        for (int64_t i = std::max<int64_t>(0, best - 2); i <= std::min<int64_t>(int64_t(r.size()) - 1, best + 2); ++i)
            taken[size_t(i)] = true;
    }
    return picked;
}

struct Peak {
    int64_t lag = 0;
    double r = 0;  ///< over the whole overlap, signed
};

/// Normalized correlation at lag d over the whole overlap.
double full_correlation(const float* a, const float* b, int64_t L, int64_t d) {
    const Overlap o(L, d);
    if (o.length() <= 0) return 0;
    const int64_t n = o.length();
    return normalized(dot(a + o.lo, b + o.lo + d, n), sum_of_squares(a + o.lo, n), sum_of_squares(b + o.lo + d, n));
}

/// The best lag of one sign within d1 … d2 at the full rate, judged on the
/// loudest stretch of file 1 that all these lags overlap.
Peak refine(const float* a, const float* b, int64_t L, int64_t d1, int64_t d2, double sign,
            const std::vector<double>& decimated, int M, int64_t segment) {
    const int64_t lo = std::max<int64_t>(0, -d1), hi = std::min<int64_t>(L, L - d2);
    if (hi <= lo) return {};
    const int64_t S = std::min(hi - lo, segment);
    // The loudest start, in steps of M frames, from the decimated signal.
    int64_t n0 = lo;
    if (S < hi - lo) {
        std::vector<double> p(decimated.size() + 1, 0.0);
        for (size_t i = 0; i < decimated.size(); ++i) p[i + 1] = p[i] + decimated[i] * decimated[i];
        const int64_t blocks = S / M;
        double loudest = -1;
        for (int64_t k = (lo + M - 1) / M; k * M + S <= hi && k + blocks < int64_t(p.size()); ++k) {
            const double e = p[size_t(k + blocks)] - p[size_t(k)];
            if (e > loudest) {
                loudest = e;
                n0 = k * M;
            }
        }
    }
    const double ea = sum_of_squares(a + n0, S);
    double eb = sum_of_squares(b + n0 + d1, S);
    Peak best;
    double bestScore = -2;
    for (int64_t d = d1; d <= d2; ++d) {
        if (d > d1) {
            // The stretch of file 2 moves on by one frame.
            const double out = b[n0 + d - 1], in = b[n0 + d + S - 1];
            eb = std::max(0.0, eb - out * out + in * in);
        }
        const double r = normalized(dot(a + n0, b + n0 + d, S), ea, eb);
        if (sign * r > bestScore) {
            bestScore = sign * r;
            best.lag = d;
        }
    }
    best.r = full_correlation(a, b, L, best.lag);
    return best;
}

}  // namespace

std::shared_ptr<const TAlignSignal> make_align_signal(const TWav& wav) {
    auto s = std::make_shared<TAlignSignal>();
    s->sampfreq = wav.sampfreq();
    s->nsamples = wav.nsamples();
    if (wav.sampfreq() <= 0 || wav.nsamples() <= 0) return s;
    const int64_t frames = std::min<int64_t>(wav.nsamples(), std::llround(kAlignSpanSeconds * wav.sampfreq()));
    s->sum.assign(size_t(frames), 0.0f);
    float* out = s->sum.data();
    for (const TSampleRow& row : wav.samples()) {
        const int64_t n = std::min<int64_t>(frames, int64_t(row.size()));
        const int16_t* in = row.data();
        for (int64_t i = 0; i < n; ++i) out[i] += float(in[i]);
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
    const float* a = file1.sum.data();
    const float* b = file2.sum.data();
    // At least half of the analysed stretch overlaps at every lag searched.
    const int64_t maxlag = std::min<int64_t>(std::llround(kAlignMaxSeconds * fs), L / 2);

    const int M = std::max(1, int(std::lround(fs / kCoarseRate)));
    const std::vector<double> ad = decimate(a, L, M), bd = decimate(b, L, M);
    const int64_t D = std::min<int64_t>(maxlag / M + 1, int64_t(ad.size()) / 2);
    const std::vector<double> coarse = coarse_correlation(ad, bd, D);

    Peak best;
    for (const int64_t q : coarse_candidates(coarse, D)) {
        const double sign = coarse[size_t(q + D)] < 0 ? -1.0 : 1.0;
        // The true lag lies within M frames of the coarse one; twice that
        // leaves room for a coarse peak that noise moved by one step.
        const int64_t d1 = std::max(-maxlag, q * M - 2 * M), d2 = std::min(maxlag, q * M + 2 * M);
        if (d1 > d2) continue;
        const Peak p = refine(a, b, L, d1, d2, sign, ad, M, std::llround(kSegmentSeconds * fs));
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
