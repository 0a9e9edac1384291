#include "workspace/difference.h"

#include "audio/wav_file.h"
#include "dsp/windowed_sinc.h"

#include <soxr.h>

#include <QString>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <thread>
#include <type_traits>

namespace wavrell {

namespace {

/// Frames handled at a time by the passes over the overlap.
constexpr int64_t kChunk = 16384;
/// Seconds of each of the windows where the offset is measured.
constexpr double kWindowSeconds = 3;
/// Frames of the bottom blocks of the drawing extremes, and the fan-out.
constexpr int64_t kDrawBlock = 256;
constexpr int64_t kDrawFanout = 16;
/// Frames of file 2 fed to the resampler before a measuring window, so that
/// its output there does not see the silence before the excerpt.
constexpr int64_t kPreroll = 4096;
/// Offsets this close to a whole frame are taken as whole: the refinement
/// between frames is good to about a thousandth of a frame, and a shift of
/// 0.002 frames moves a 5 kHz tone by 0.08 degrees.
constexpr double kWholeFrameTolerance = 0.002;
/// Frames at each end of file 2 where resampled output still rings with the
/// file's edge: left out of the measuring windows and, for a resampled
/// file 2, of the overlap.
constexpr int64_t kEdgeFrames = 2048;

struct SoxrDelete {
    void operator()(soxr_t s) const { soxr_delete(s); }
};
using Resampler = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDelete>;

/// A resampler from `rho` to 1 (output frame j at input time j · rho), on
/// floats, at high quality.
Resampler make_resampler(double rho) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    Resampler r(soxr_create(rho, 1.0, 1, &error, &io, &quality, &runtime));
    if (error || !r)
        throw EDifferenceError(QStringLiteral("The clock drift of file 2 cannot be corrected: %1")
                                   .arg(QString::fromUtf8(error ? soxr_strerror(error) : "no resampler")));
    return r;
}

/// Sum of a store's channels over frames [first, first + count), 0 outside
/// the file.
void channel_sum(const TWav& w, int64_t first, int64_t count, float* out) {
    std::fill(out, out + count, 0.0f);
    const int64_t n = w.nsamples();
    const int64_t lo = std::clamp<int64_t>(first, 0, n), hi = std::clamp<int64_t>(first + count, 0, n);
    for (const TSampleRow& row : w.samples())
        for (int64_t i = lo; i < hi; ++i) out[i - first] += float(row[size_t(i)]);
}

/// One channel of file 2 resampled by rho from its frame 0 on: r[j] at file
/// 2's time j · rho; the row itself when rho is 1. Read in order.
class ResampledRow {
public:
    ResampledRow(const int16_t* row, int64_t frames, double rho) : y(row), N(frames), resampled(rho != 1.0) {
        if (resampled) resampler = make_resampler(rho);
    }

    /// r[j] for j ∈ [j0, j0 + n) into out; j0 never goes back when resampled.
    void get(int64_t j0, int64_t n, float* out) {
        if (!resampled) {
            for (int64_t i = 0; i < n; ++i) {
                const int64_t j = j0 + i;
                out[i] = j >= 0 && j < N ? float(y[j]) : 0.0f;
            }
            return;
        }
        for (;;) {
            const int64_t drop = std::clamp<int64_t>(j0 - base, 0, int64_t(buf.size()));
            if (drop > 0) {
                buf.erase(buf.begin(), buf.begin() + drop);
                base += drop;
            }
            if (base + int64_t(buf.size()) >= j0 + n || ended) break;
            produce();
        }
        for (int64_t i = 0; i < n; ++i) {
            const int64_t k = j0 + i - base;
            out[i] = k >= 0 && k < int64_t(buf.size()) ? buf[size_t(k)] : 0.0f;
        }
    }

private:
    void produce() {
        out.resize(kChunk * 2);
        size_t idone = 0, odone = 0;
        soxr_error_t error = nullptr;
        if (fed < N) {
            const int64_t m = std::min<int64_t>(kChunk, N - fed);
            in.resize(size_t(m));
            for (int64_t i = 0; i < m; ++i) in[size_t(i)] = float(y[fed + i]);
            error = soxr_process(resampler.get(), in.data(), size_t(m), &idone, out.data(), out.size(), &odone);
            fed += int64_t(idone);
        } else {
            error = soxr_process(resampler.get(), nullptr, 0, nullptr, out.data(), out.size(), &odone);
            if (odone == 0) ended = true;
        }
        if (error) throw EDifferenceError(QStringLiteral("Resampling file 2 failed: %1").arg(QString::fromUtf8(soxr_strerror(error))));
        buf.insert(buf.end(), out.begin(), out.begin() + ptrdiff_t(odone));
    }

    const int16_t* y;
    int64_t N;
    bool resampled;
    Resampler resampler;
    std::vector<float> buf, in, out;
    int64_t base = 0;  // r index of buf[0]
    int64_t fed = 0;
    bool ended = false;
};

/// How file 2 is corrected: resampled by rho, then read at r(n + D), negated
/// for sign −1.
struct Correction {
    double rho = 1;
    double D = 0;
    int sign = 1;
    int64_t whole() const { return int64_t(std::floor(D)); }
    double fraction() const { return D - std::floor(D); }
    bool filtered() const { return fraction() != 0; }
};

/// One channel of the corrected file 2, c[n] ≈ file1[n] (up to the gain),
/// read in order: a fractional-delay filter (windowed sinc) over r.
class CorrectedRow {
public:
    CorrectedRow(const int16_t* row, int64_t frames, const Correction& k) : r(row, frames, k.rho), c(k) {
        if (!c.filtered()) return;
        taps.resize(2 * kSincHalfWidth);
        double sum = 0;
        for (int t = 0; t < 2 * kSincHalfWidth; ++t) {
            // Tap t weighs r[n + whole + t − H + 1], (t − H + 1 − fraction) frames from the point read.
            taps[size_t(t)] = windowed_sinc(double(t - kSincHalfWidth + 1) - c.fraction());
            sum += taps[size_t(t)];
        }
        for (double& h : taps) h /= sum;  // unity gain at 0 Hz
    }

    void read(int64_t n0, int count, float* out) {
        if (taps.empty()) {
            r.get(n0 + c.whole(), count, out);
        } else {
            const int T = int(taps.size());
            span.resize(size_t(count + T - 1));
            r.get(n0 + c.whole() - kSincHalfWidth + 1, count + T - 1, span.data());
            std::fill(out, out + count, 0.0f);
            // Tap by tap over the whole chunk: no reduction in the inner
            // loop, so the compiler packs it.
            for (int t = 0; t < T; ++t) {
                const float h = float(taps[size_t(t)]);
                const float* s = span.data() + t;
                for (int i = 0; i < count; ++i) out[i] += h * s[i];
            }
        }
        if (c.sign < 0)
            for (int i = 0; i < count; ++i) out[i] = -out[i];
    }

private:
    ResampledRow r;
    Correction c;
    std::vector<double> taps;
    std::vector<float> span;
};

/// A measuring window of file 1: frames [a, a + W).
struct Window {
    int64_t a = 0, W = 0;
    double centre() const { return double(a) + double(W) / 2; }
};

/// The loudest of four windows of W frames starting at from, from + step, …
Window loudest_window(const TWav& f1, int64_t from, int64_t step, int64_t W, std::vector<float>& scratch) {
    Window best{from, W};
    double loudest = -1;
    scratch.resize(size_t(W));
    for (int k = 0; k < 4; ++k) {
        const int64_t a = from + k * step;
        if (a < 0 || a + W > f1.nsamples()) continue;
        channel_sum(f1, a, W, scratch.data());
        double e = 0;
        for (float v : scratch) e += double(v) * v;
        if (e > loudest) {
            loudest = e;
            best.a = a;
        }
    }
    return best;
}

/// The offset D of the corrected stream resampled by rho (r(n + D) ≈
/// file1[n]) over a window, searched within R frames of r around the file-2
/// time `predicted` of the window's first frame. The resampler runs from a
/// little before the excerpt; its output there lies at the same phase of
/// the input as the whole stream's would up to the excerpt's start q, which
/// comes back as q / rho.
std::optional<double> window_offset(const TWav& f1, const TWav& f2, const Window& w, double rho, double predicted,
                                    int64_t R, int sign) {
    std::vector<float> x(size_t(w.W));
    channel_sum(f1, w.a, w.W, x.data());
    const int64_t count = w.W + 2 * R;
    std::vector<float> y(static_cast<size_t>(count));
    double qr = 0;  // r index of y[0]
    if (rho == 1.0) {
        const int64_t q = int64_t(std::floor(predicted)) - R;
        channel_sum(f2, q, count, y.data());
        qr = double(q);
    } else {
        const int64_t q = std::max<int64_t>(0, int64_t(std::floor(predicted)) - int64_t(std::ceil(R * rho)) - kPreroll);
        const int64_t j0 = std::max<int64_t>(0, int64_t(std::floor((predicted - double(q)) / rho)) - R);
        Resampler s = make_resampler(rho);
        std::vector<float> in(static_cast<size_t>(kChunk)), out(static_cast<size_t>(2 * kChunk));
        std::vector<float> got;
        got.reserve(size_t(j0 + count));
        int64_t p = q;
        bool flushing = false;
        while (int64_t(got.size()) < j0 + count) {
            size_t idone = 0, odone = 0;
            soxr_error_t error = nullptr;
            if (p < f2.nsamples()) {
                const int64_t m = std::min<int64_t>(kChunk, f2.nsamples() - p);
                channel_sum(f2, p, m, in.data());
                error = soxr_process(s.get(), in.data(), size_t(m), &idone, out.data(), out.size(), &odone);
                p += int64_t(idone);
            } else {
                error = soxr_process(s.get(), nullptr, 0, nullptr, out.data(), out.size(), &odone);
                if (odone == 0) flushing = true;
            }
            if (error) return std::nullopt;
            got.insert(got.end(), out.begin(), out.begin() + ptrdiff_t(odone));
            if (flushing) break;
        }
        got.resize(size_t(j0 + count), 0.0f);
        std::copy(got.begin() + j0, got.end(), y.begin());
        qr = double(q) / rho + double(j0);
    }
    const TExcerptPlace place = locate_excerpt(x.data(), w.W, y.data(), count, sign);
    if (!place.found) return std::nullopt;
    return qr + place.lag - double(w.a);
}

/// Runs `sink(channel, n0, count, x, c)` over the overlap [lo, hi) chunk by
/// chunk for every channel, channels side by side on the processors. False
/// when cancelled.
template <class Sink>
bool over_overlap(const TWav& f1, const TWav& f2, const Correction& k, int64_t lo, int64_t hi, Sink&& sink,
                  const std::atomic<bool>* cancel) {
    const int C = f1.nchans();
    const int T = std::max(1, std::min<int>(C, int(std::thread::hardware_concurrency())));
    std::vector<std::exception_ptr> errors(static_cast<size_t>(T));
    std::atomic<bool> stopped{false};
    const auto work = [&](int t) {
        try {
            std::vector<float> x(kChunk), c(kChunk);
            for (int ch = t; ch < C; ch += T) {
                const TSampleRow& xr = f1.samples()[size_t(ch)];
                const TSampleRow& yr = f2.samples()[size_t(ch)];
                CorrectedRow corrected(yr.data(), int64_t(yr.size()), k);
                for (int64_t n0 = lo; n0 < hi; n0 += kChunk) {
                    if ((cancel && cancel->load()) || stopped.load()) {
                        stopped = true;
                        return;
                    }
                    const int count = int(std::min<int64_t>(kChunk, hi - n0));
                    for (int i = 0; i < count; ++i) x[size_t(i)] = float(xr[size_t(n0 + i)]);
                    corrected.read(n0, count, c.data());
                    sink(ch, n0, count, x.data(), c.data());
                }
            }
        } catch (...) {
            errors[size_t(t)] = std::current_exception();
            stopped = true;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < T; ++t) threads.emplace_back(work, t);
    work(0);
    for (std::thread& th : threads) th.join();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
    return !stopped.load();
}

double ratio_db(double num, double den) {
    if (num <= 0) return -std::numeric_limits<double>::infinity();
    return 10 * std::log10(num / den);
}

}  // namespace

double TDifferenceFigures::gain_db() const { return 20 * std::log10(std::abs(gain)); }

/// Builds a TDifference (the friend that fills it).
struct TDifferenceBuilder {
    static std::shared_ptr<const TDifference> run(const TWav& f1, const TWav& f2, int64_t offset, int sign, bool keep,
                                                  const std::atomic<bool>* cancel);
};

std::shared_ptr<const TDifference> TDifferenceBuilder::run(const TWav& f1, const TWav& f2, int64_t offset, int sign,
                                                           bool keep, const std::atomic<bool>* cancel) {
    if (f1.nchans() != f2.nchans())
        throw EDifferenceError(QStringLiteral("%1 has %2 channels and %3 has %4: the difference needs equal channel counts")
                                   .arg(f1.filename()).arg(f1.nchans()).arg(f2.filename()).arg(f2.nchans()));
    if (f1.sampfreq() != f2.sampfreq())
        throw EDifferenceError(QStringLiteral("%1 (%2 Hz) and %3 (%4 Hz) have different sampling rates")
                                   .arg(f1.filename()).arg(f1.sampfreq()).arg(f2.filename()).arg(f2.sampfreq()));
    auto result = std::make_shared<TDifference>();
    TDifferenceFigures& fig = result->ffigures;
    fig.sampfreq = f1.sampfreq();
    fig.channels = f1.nchans();
    sign = sign < 0 ? -1 : 1;
    const int C = f1.nchans();
    const int64_t N1 = f1.nsamples(), N2 = f2.nsamples();

    // Whole-offset overlap, and whether file 2 is file 1 there.
    const int64_t lo0 = std::max<int64_t>(0, -offset), hi0 = std::min<int64_t>(N1, N2 - offset);
    if (hi0 <= lo0 || C == 0) return result;
    fig.overlap = true;
    bool same = true;
    for (int ch = 0; ch < C && same; ++ch) {
        const int16_t* x = f1.samples()[size_t(ch)].data();
        const int16_t* y = f2.samples()[size_t(ch)].data();
        for (int64_t n = lo0; n < hi0; ++n)
            if (int32_t(x[n]) != sign * int32_t(y[n + offset])) {
                same = false;
                break;
            }
    }
    if (same) {
        fig.identical = true;
        fig.delay = double(offset);
        fig.overlap_first = lo0;
        fig.overlap_frames = hi0 - lo0;
        result->frows.resize(size_t(C));
        return result;
    }

    // The offset near the start and near the end of the overlap.
    const int32_t fs = f1.sampfreq();
    // The windows keep off the ends, where the resampler's and the
    // delay filter's output rings with the edge of the file.
    const int64_t E = std::min<int64_t>((hi0 - lo0) / 8, kEdgeFrames);
    const int64_t L = hi0 - lo0 - 2 * E;
    const int64_t W = std::max<int64_t>(1, std::min<int64_t>(std::llround(kWindowSeconds * fs), L / 4));
    const int64_t step = std::max<int64_t>(1, (L / 4 - W) / 3);
    std::vector<float> scratch;
    const Window ws = loudest_window(f1, lo0 + E, step, W, scratch);
    const Window we = loudest_window(f1, hi0 - E - W - 3 * step, step, W, scratch);
    scratch = {};
    const int64_t R0 = std::min<int64_t>(64 + int64_t(std::ceil(1e-3 * double(N1))), 10LL * fs);
    if (cancel && cancel->load()) return nullptr;
    const std::optional<double> ds = window_offset(f1, f2, ws, 1.0, double(ws.a + offset), R0, sign);
    const std::optional<double> de =
        we.a > ws.a ? window_offset(f1, f2, we, 1.0, double(we.a + offset), R0, sign) : std::nullopt;
    Correction k;
    k.sign = sign;
    if (ds && de) {
        double drift = (*de - *ds) / (we.centre() - ws.centre());
        if (std::abs(drift) * 1e6 >= kDriftCorrectionPpm) {
            // r(j) = file2(j · rho): the offset becomes constant.
            k.rho = 1 + drift;
            k.D = (*ds - drift * ws.centre()) / k.rho;
            // The estimate of smeared peaks is refined on resampled windows,
            // whose peaks are sharp.
            for (int pass = 0; pass < 3; ++pass) {
                if (cancel && cancel->load()) return nullptr;
                const std::optional<double> s2 = window_offset(f1, f2, ws, k.rho, k.rho * (double(ws.a) + k.D), 32, sign);
                const std::optional<double> e2 = window_offset(f1, f2, we, k.rho, k.rho * (double(we.a) + k.D), 32, sign);
                if (!s2 || !e2) break;
                const double rest = (*e2 - *s2) / (we.centre() - ws.centre());
                k.D = (*s2 - rest * ws.centre()) / (1 + rest);
                k.rho *= 1 + rest;
                if (std::abs(rest) < 1e-9) break;
            }
        } else {
            k.D = (*ds + *de) / 2;
        }
    } else if (ds || de) {
        k.D = ds ? *ds : *de;
    } else {
        k.D = double(offset);
    }
    // A fraction below what the estimate can tell from noise is none: the
    // pair is then subtracted sample for sample.
    if (std::abs(k.D - std::round(k.D)) < kWholeFrameTolerance) k.D = std::round(k.D);
    fig.resampled = k.rho != 1.0;
    fig.drift_ppm = (k.rho - 1) * 1e6;
    fig.delay = k.rho * k.D;

    // The overlap of the corrected stream, short of the filter's reach into
    // the silence beyond file 2's ends.
    const int64_t Nr = k.rho == 1.0 ? N2 : int64_t(std::floor(double(N2 - 1) / k.rho)) + 1;
    const double margin = fig.resampled ? double(kEdgeFrames) : k.filtered() ? double(kSincHalfWidth) : 0.0;
    const int64_t lo = std::max<int64_t>(0, int64_t(std::ceil(-k.D + margin)));
    const int64_t hi = std::min<int64_t>(N1, int64_t(std::floor(double(Nr - 1) - k.D - margin)) + 1);
    if (hi <= lo) {
        fig.overlap = false;
        return result;
    }
    fig.overlap_first = lo;
    fig.overlap_frames = hi - lo;

    // Pass 1: per block and channel Σx², Σxc, Σc²; the gain and the ratios follow.
    const int64_t B = std::max<int64_t>(1, std::llround(kDifferenceBlockSeconds * fs));
    const int64_t blocks = (hi - lo) / B;
    fig.block_frames = B;
    struct Sums {
        double xx = 0, xc = 0, cc = 0;
    };
    std::vector<std::vector<Sums>> sums(size_t(C), std::vector<Sums>(size_t(blocks + 1)));
    const bool done = over_overlap(
        f1, f2, k, lo, hi,
        [&](int ch, int64_t n0, int count, const float* x, const float* c) {
            std::vector<Sums>& s = sums[size_t(ch)];
            for (int i = 0; i < count;) {
                const int64_t b = std::min<int64_t>((n0 + i - lo) / B, blocks);
                const int end = int(std::min<int64_t>(count, lo + (b + 1) * B - n0));
                const int stop = b == blocks ? count : end;
                double xx = 0, xc = 0, cc = 0;
                for (int j = i; j < stop; ++j) {
                    xx += double(x[j]) * x[j];
                    xc += double(x[j]) * c[j];
                    cc += double(c[j]) * c[j];
                }
                s[size_t(b)].xx += xx;
                s[size_t(b)].xc += xc;
                s[size_t(b)].cc += cc;
                i = stop;
            }
        },
        cancel);
    if (!done) return nullptr;
    std::vector<Sums> block(size_t(blocks + 1));
    Sums total;
    for (int ch = 0; ch < C; ++ch)
        for (int64_t b = 0; b <= blocks; ++b) {
            const Sums& s = sums[size_t(ch)][size_t(b)];
            block[size_t(b)].xx += s.xx;
            block[size_t(b)].xc += s.xc;
            block[size_t(b)].cc += s.cc;
            total.xx += s.xx;
            total.xc += s.xc;
            total.cc += s.cc;
        }
    const double g = total.cc > 0 ? total.xc / total.cc : 0.0;
    fig.gain = g == 0 ? 1.0 : g;
    const auto residual = [g](const Sums& s) { return std::max(0.0, s.xx - 2 * g * s.xc + g * g * s.cc); };
    fig.null_depth_db = total.xx > 0 ? ratio_db(residual(total), total.xx) : 0.0;
    const double quiet = std::pow(10.0, kDifferenceQuietDb / 10) * 32768.0 * 32768.0 * double(B) * C;
    std::vector<double> audible;
    for (int64_t b = 0; b < blocks; ++b) {
        const Sums& s = block[size_t(b)];
        const double db = s.xx >= quiet && s.xx > 0 ? ratio_db(residual(s), s.xx) : std::nan("");
        fig.block_db.push_back(db);
        if (!std::isnan(db)) audible.push_back(db);
    }
    if (!audible.empty()) {
        std::sort(audible.begin(), audible.end());
        const size_t n = audible.size();
        fig.block_median_db = n % 2 ? audible[n / 2] : (audible[n / 2 - 1] + audible[n / 2]) / 2;
        fig.block_p95_db = audible[size_t(std::max<double>(0, std::ceil(0.95 * double(n)) - 1))];
        fig.block_max_db = audible.back();
    }
    if (!keep) return result;

    // Pass 2: the peak of d; pass 3: d scaled to it in 16 bits.
    std::vector<double> peaks(size_t(C), 0.0);
    const float gf = float(g);
    if (!over_overlap(
            f1, f2, k, lo, hi,
            [&](int ch, int64_t, int count, const float* x, const float* c) {
                double p = peaks[size_t(ch)];
                for (int i = 0; i < count; ++i) p = std::max(p, double(std::abs(x[i] - gf * c[i])));
                peaks[size_t(ch)] = p;
            },
            cancel))
        return nullptr;
    const double peak = *std::max_element(peaks.begin(), peaks.end());
    result->fpeak = peak / 32768.0;
    result->fstep = peak > 0 ? peak / 32767.0 : 0.0;
    result->frows.assign(size_t(C), TSampleRow());
    for (TSampleRow& row : result->frows) row.resize(size_t(hi - lo));
    const float inv = peak > 0 ? float(32767.0 / peak) : 0.0f;
    if (!over_overlap(
            f1, f2, k, lo, hi,
            [&](int ch, int64_t n0, int count, const float* x, const float* c) {
                int16_t* out = result->frows[size_t(ch)].data() + (n0 - lo);
                for (int i = 0; i < count; ++i)
                    out[i] = int16_t(std::clamp(std::lrint((x[i] - gf * c[i]) * inv), -32767L, 32767L));
            },
            cancel))
        return nullptr;
    // Block extremes for drawing.
    for (const TSampleRow& row : result->frows) {
        TMinMaxPyramid<int16_t> levels(1);
        const int64_t n = int64_t(row.size());
        levels[0].resize(size_t((n + kDrawBlock - 1) / kDrawBlock));
        for (int64_t b = 0; b * kDrawBlock < n; ++b) {
            const auto [mn, mx] = std::minmax_element(row.begin() + b * kDrawBlock,
                                                      row.begin() + std::min(n, (b + 1) * kDrawBlock));
            levels[0][size_t(b)] = {*mn, *mx};
        }
        if (!levels[0].empty()) build_minmax_pyramid(levels, kDrawFanout);
        result->fpyramids.push_back(std::move(levels));
    }
    return result;
}

std::shared_ptr<const TDifference> compute_difference(const TWav& file1, const TWav& file2, int64_t offset, int sign,
                                                      bool keep, const std::atomic<bool>* cancel) {
    return TDifferenceBuilder::run(file1, file2, offset, sign, keep, cancel);
}

void TDifference::read(int channel, int64_t start, int count, float* out) const {
    const double unit = fstep / 32768.0;
    for (int i = 0; i < count; ++i) {
        const int64_t k = start + i - first();
        out[i] = channel >= 0 && channel < channels() && k >= 0 && k < int64_t(frows[size_t(channel)].size())
                     ? float(frows[size_t(channel)][size_t(k)] * unit)
                     : 0.0f;
    }
}

int64_t TDifference::play(int chans, int64_t start, int count, double factor, int16_t* out) const {
    int64_t clipped = 0;
    const double unit = fstep * factor;
    for (int i = 0; i < count; ++i) {
        const int64_t k = start + i - first();
        for (int ch = 0; ch < chans; ++ch) {
            int16_t& o = out[ptrdiff_t(i) * chans + ch];
            if (ch >= channels() || k < 0 || k >= int64_t(frows[size_t(ch)].size())) {
                o = 0;
                continue;
            }
            const double v = std::nearbyint(frows[size_t(ch)][size_t(k)] * unit);
            if (v > 32767 || v < -32768) ++clipped;
            o = int16_t(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return clipped;
}

bool TDifference::minmax(int channel, int64_t j, int64_t e, float& lo, float& hi) const {
    if (channel < 0 || channel >= channels()) return false;
    const TSampleRow& row = frows[size_t(channel)];
    const int64_t i0 = std::max<int64_t>(j - first(), 0), i1 = std::min<int64_t>(e - first(), int64_t(row.size()) - 1);
    if (i1 < i0) return false;
    int16_t mn = std::numeric_limits<int16_t>::max(), mx = std::numeric_limits<int16_t>::min();
    const auto scan = [&](int64_t a, int64_t b) {  // [a, b)
        for (int64_t i = a; i < b; ++i) {
            mn = std::min(mn, row[size_t(i)]);
            mx = std::max(mx, row[size_t(i)]);
        }
    };
    const int64_t b0 = (i0 + kDrawBlock - 1) / kDrawBlock, b1 = (i1 + 1) / kDrawBlock;
    if (b0 < b1) {
        scan(i0, b0 * kDrawBlock);
        pyramid_minmax(fpyramids[size_t(channel)], kDrawFanout, b0, b1, mn, mx);
        scan(b1 * kDrawBlock, i1 + 1);
    } else {
        scan(i0, i1 + 1);
    }
    const double unit = fstep / 32768.0;
    lo = float(mn * unit);
    hi = float(mx * unit);
    return true;
}

QString difference_text(const TDifferenceFigures& f, const QLocale& shown) {
    // The user's decimal separator, but no grouping: "+1105.37" frames.
    QLocale locale = shown;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    if (!f.overlap) return QStringLiteral("no overlap");
    if (f.identical) return QStringLiteral("identical");
    const QChar minus(0x2212);
    const auto number = [&](double v, int decimals, bool plus) {
        if (std::isinf(v)) return v < 0 ? minus + QStringLiteral("inf") : QStringLiteral("inf");
        QString t = locale.toString(std::abs(v), 'f', decimals);
        const bool zero = t == locale.toString(0.0, 'f', decimals);
        if (v < 0 && !zero) return minus + t;
        return plus ? QLatin1Char('+') + t : t;
    };
    const auto db = [&](const std::optional<double>& v) {
        return v ? number(*v, 1, false) + QStringLiteral(" dB") : QStringLiteral("-");
    };
    return QStringLiteral("null depth %1, median %2, 95 % %3, gain %4 dB, delay %5, drift %6 ppm")
        .arg(db(f.null_depth_db), db(f.block_median_db), db(f.block_p95_db), number(f.gain_db(), 2, false),
             number(f.delay, 2, true), number(f.drift_ppm, 2, true));
}

void TDifferenceFrameSource::read(int channel, int64_t from, int n, float* out) const {
    const int chans = fdifference->channels();
    if (chans <= 0 || channel >= chans) {
        std::fill(out, out + n, 0.0f);
        return;
    }
    if (channel >= 0) {
        fdifference->read(channel, from, n, out);
        return;
    }
    // The mean of the channels, as a file's source gives it.
    fdifference->read(0, from, n, out);
    std::vector<float> more(size_t(std::max(n, 0)));
    for (int c = 1; c < chans; ++c) {
        fdifference->read(c, from, n, more.data());
        for (int i = 0; i < n; ++i) out[i] += more[size_t(i)];
    }
    const float s = 1.0f / float(chans);
    for (int i = 0; i < n; ++i) out[i] *= s;
}

}  // namespace wavrell
