#include "workspace/spectrogram.h"

#include "workspace/frame_source.h"
#include "common/parallel_jobs.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>

namespace wavrell {

namespace {

/// One forward plan per transform size for the whole program, made with
/// FFTW's planner, which must never run on two threads at once; executing a
/// plan on other buffers may.
fftwf_plan shared_plan(int n) {
    static std::mutex m;
    static std::map<int, fftwf_plan> plans;
    std::lock_guard<std::mutex> lock(m);
    auto it = plans.find(n);
    if (it != plans.end()) return it->second;
    float* in = fftwf_alloc_real(size_t(n));
    fftwf_complex* out = fftwf_alloc_complex(size_t(n / 2 + 1));
    fftwf_plan p = in && out ? fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE) : nullptr;
    fftwf_free(in);
    fftwf_free(out);
    if (!p) throw ESpectrogramError(QStringLiteral("cannot plan a transform of %1 samples").arg(n));
    plans.emplace(n, p);
    return p;
}

/// Frames [a, b) covered by transforms of n frames: their first frames
/// (side by side, or one centred on a shorter range; at most `most`, spread
/// evenly, when most > 0).
/// A transform near an end of a signal longer than a transform is moved
/// inwards to lie wholly within it (from `first` to `end`): zeros beyond the
/// ends would halve the level there and smear an abrupt start over every
/// frequency.
template <class F>
void each_transform(int64_t a, int64_t b, int n, int64_t first, int64_t end, F&& f, int64_t most = 0) {
    const int64_t span = b - a;
    int64_t m = std::max<int64_t>(1, std::llround(double(span) / n));
    if (most > 0) m = std::min(m, most);
    for (int64_t i = 0; i < m; ++i) {
        int64_t from = a + (2 * i + 1) * span / (2 * m) - n / 2;
        if (end - first >= n) from = std::clamp(from, first, end - n);
        f(from);
    }
}

}  // namespace

double TFrequencyAxis::hz_at(double y) const {
    const double u = 1.0 - y / std::max(height, 1);  // 0 at the bottom edge, 1 at the top
    if (!log) return u * nyquist;
    return low() * std::pow(nyquist / low(), u);
}

double TFrequencyAxis::y_of(double hz) const {
    double u;
    if (!log) u = hz / nyquist;
    else u = hz > 0 ? std::log(hz / low()) / std::log(nyquist / low()) : -std::numeric_limits<double>::infinity();
    return (1.0 - u) * height;
}

struct TPowerSpectrum::Buffers {
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    std::vector<float> window;
    fftwf_plan plan = nullptr;
    ~Buffers() {
        fftwf_free(in);
        fftwf_free(out);
    }
};

TPowerSpectrum::TPowerSpectrum(int fftsize) : fn(fftsize), fb(std::make_unique<Buffers>()) {
    fb->plan = shared_plan(fn);
    fb->in = fftwf_alloc_real(size_t(fn));
    fb->out = fftwf_alloc_complex(size_t(bins()));
    if (!fb->in || !fb->out) throw std::bad_alloc();
    // The periodic Hann window: a sine on a bin leaves exactly half its
    // amplitude in each neighbour.
    fb->window.resize(size_t(fn));
    for (int i = 0; i < fn; ++i) fb->window[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / fn));
}

TPowerSpectrum::~TPowerSpectrum() = default;

void TPowerSpectrum::add(const TFrameSource& source, int channel, int64_t from, double* acc) {
    source.read(channel, from, fn, fb->in);
    const float* w = fb->window.data();
    for (int i = 0; i < fn; ++i) fb->in[i] *= w[i];
    fftwf_execute_dft_r2c(fb->plan, fb->in, fb->out);
    const int nb = bins();
    for (int k = 0; k < nb; ++k) {
        const double re = fb->out[k][0], im = fb->out[k][1];
        acc[k] += re * re + im * im;
    }
}

std::vector<float> bin_levels(const std::vector<double>& acc, int count, int fftsize) {
    // A sine of amplitude A on a bin: |X| = A N / 4 there (the window's sum
    // is N / 2, half of it in each of the two complex exponentials), and a
    // quarter of that power in each neighbour: the three bins hold 1.5 times
    // the bin's own power wherever the sine falls.
    const double scale = 16.0 / (1.5 * double(fftsize) * double(fftsize) * std::max(count, 1));
    const size_t nb = acc.size();
    std::vector<float> db(nb);
    for (size_t k = 0; k < nb; ++k) {
        double p = acc[k];
        if (k > 0) p += acc[k - 1];
        if (k + 1 < nb) p += acc[k + 1];
        p *= scale;
        db[k] = p > 0 ? std::max(float(10 * std::log10(p)), kSilenceDb) : kSilenceDb;
    }
    return db;
}

float band_level(const std::vector<float>& levels, double binhz, double lohz, double hihz) {
    if (levels.empty()) return kSilenceDb;
    const int64_t last = int64_t(levels.size()) - 1;
    const int64_t klo = std::max<int64_t>(0, int64_t(std::ceil(lohz / binhz)));
    const int64_t khi = std::min<int64_t>(last, int64_t(std::ceil(hihz / binhz)) - 1);
    if (klo <= khi) return *std::max_element(levels.begin() + klo, levels.begin() + khi + 1);
    const double k = std::clamp(0.5 * (lohz + hihz) / binhz, 0.0, double(last));
    const int64_t i = std::min<int64_t>(int64_t(k), std::max<int64_t>(last - 1, 0));
    if (i >= last) return levels[size_t(last)];
    const double f = k - double(i);
    return float(levels[size_t(i)] * (1 - f) + levels[size_t(i + 1)] * f);
}

bool spectrogram_picture(const TFrameSource& source, int channel, double t0, double t1, int width,
                         const TFrequencyAxis& axis, int fftsize, TSpectrogramPicture& out,
                         const std::atomic<bool>* cancel, unsigned threads) {
    const int H = std::max(axis.height, 1);
    const int W = std::max(width, 1);
    out.width = W;
    out.height = H;
    out.db.assign(size_t(W) * size_t(H), std::numeric_limits<float>::quiet_NaN());
    const double fs = source.sampfreq();
    if (fs <= 0 || !(t1 > t0)) return true;
    const double binhz = fs / fftsize;
    // The band of each row, top to bottom.
    std::vector<std::pair<double, double>> bands(static_cast<size_t>(H));
    for (int y = 0; y < H; ++y) bands[size_t(y)] = {axis.hz_at(y + 1), axis.hz_at(y)};
    const double dt = (t1 - t0) / W;
    const int64_t first = source.first(), end = source.end();
    std::atomic<bool> stopped{false};
    const auto stop = [&] { return stopped || (cancel && cancel->load(std::memory_order_relaxed)); };
    // Threads take blocks of columns in turn, so that each has a share of
    // the signal's whole length.
    constexpr int kBlock = 16;
    threads = std::max(1u, threads);
    std::vector<std::function<void()>> jobs;
    for (unsigned j = 0; j < threads; ++j) {
        jobs.push_back([&, j] {
            TPowerSpectrum spectrum(fftsize);
            std::vector<double> acc(size_t(spectrum.bins()));
            // Columns much narrower than a transform (a close zoom) take the
            // transform on a grid of a quarter of its length nearest to
            // their centre: neighbours on one grid point share it.
            const int64_t grid = fftsize / 4;
            int64_t lastfrom = std::numeric_limits<int64_t>::min();
            for (int x0 = int(j) * kBlock; x0 < W; x0 += int(threads) * kBlock) {
                lastfrom = std::numeric_limits<int64_t>::min();
                for (int x = x0; x < std::min(W, x0 + kBlock); ++x) {
                    if (stop()) {
                        stopped = true;
                        return;
                    }
                    const int64_t a = int64_t(std::llround((t0 + x * dt) * fs));
                    const int64_t b = std::max(a + 1, int64_t(std::llround((t0 + (x + 1) * dt) * fs)));
                    if (b <= first || a >= end) {  // nothing of the signal here
                        lastfrom = std::numeric_limits<int64_t>::min();
                        continue;
                    }
                    float* column = out.db.data() + size_t(x) * size_t(H);
                    if (b - a < grid) {
                        const int64_t centre = (a + b) / 2;
                        int64_t from = (centre >= 0 ? (centre + grid / 2) / grid : -((-centre + grid / 2) / grid)) * grid -
                                       fftsize / 2;
                        if (end - first >= fftsize) from = std::clamp(from, first, end - int64_t(fftsize));
                        if (from == lastfrom) {
                            std::copy(column - H, column, column);
                            continue;
                        }
                        lastfrom = from;
                        std::fill(acc.begin(), acc.end(), 0.0);
                        spectrum.add(source, channel, from, acc.data());
                        const std::vector<float> levels = bin_levels(acc, 1, fftsize);
                        for (int y = 0; y < H; ++y)
                            column[y] = band_level(levels, binhz, bands[size_t(y)].first, bands[size_t(y)].second);
                        continue;
                    }
                    lastfrom = std::numeric_limits<int64_t>::min();
                    std::fill(acc.begin(), acc.end(), 0.0);
                    int count = 0;
                    each_transform(a, b, fftsize, first, end, [&](int64_t from) {
                        spectrum.add(source, channel, from, acc.data());
                        ++count;
                    });
                    const std::vector<float> levels = bin_levels(acc, count, fftsize);
                    for (int y = 0; y < H; ++y)
                        column[y] = band_level(levels, binhz, bands[size_t(y)].first, bands[size_t(y)].second);
                }
            }
        });
    }
    run_parallel_jobs(jobs, threads);
    return !stop();
}

std::vector<float> average_spectrum(const TFrameSource& source, int channel, int64_t from, int64_t to, int fftsize,
                                    const std::atomic<bool>* cancel, int most) {
    const int64_t a = std::max(from, source.first()), b = std::min(to, source.end());
    if (a >= b) return {};
    TPowerSpectrum spectrum(fftsize);
    std::vector<double> acc(size_t(spectrum.bins()));
    int count = 0;
    bool cancelled = false;
    each_transform(a, b, fftsize, source.first(), source.end(), [&](int64_t start) {
        if (cancelled || (cancel && cancel->load(std::memory_order_relaxed))) {
            cancelled = true;
            return;
        }
        spectrum.add(source, channel, start, acc.data());
        ++count;
    }, most);
    if (cancelled) return {};
    return bin_levels(acc, count, fftsize);
}

}  // namespace wavrell
