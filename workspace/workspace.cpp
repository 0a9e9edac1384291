#include "workspace/workspace.h"

#include "workspace/error_summaries.h"

#include "audio/rate_conversion.h"
#include "audio/wav_file.h"
#include "common/number_text.h"
#include "common/regular_file.h"
#include "common/parallel_jobs.h"
#include "dsp/filter_section.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <new>

namespace wavrell {

TWorkspace::TWorkspace(QObject* owner) : QObject(owner) {
    fwav[0] = new TWav(this);
    fwav[1] = new TWav(this);
    // The 500 Hz allpass: the zero mirrors the pole. SampFreq is set to each
    // file's rate when it is used.
    fapfilter = new TRealFilterSection(this);
    fapfilter->setGain(1);
    fapfilter->setUnityGainAtHF(false);
    fapfilter->setSampFreq(16000);
    fapfilter->setFZero(-500);
    fapfilter->setFPole(500);
    for (TLevelTable& t : flevels) t.assign(4, {});
    ferrorsummaries = std::make_unique<TErrorSummaries>();
    ferrorsummaries->OnReady = [this](int slot) {
        if (OnErrorSummariesReady) OnErrorSummariesReady(slot);
    };
}

TWorkspace::~TWorkspace() = default;

const std::vector<TErrorSummary>* TWorkspace::error_summaries(int slot) {
    return ferrorsummaries->get(slot, *fwav[size_t(slot)], ffilefactor[size_t(slot)]);
}

int TWorkspace::error_summary_builds() const { return ferrorsummaries->builds(); }

void TWorkspace::emit_checks() {
    if (OnChecksChanged) OnChecksChanged();
}

void TWorkspace::invalidate_views(bool dirty) {
    if (OnInvalidateViews) OnInvalidateViews(dirty);
}

void TWorkspace::setNormalize(bool v) {
    fnormalize = v;
    emit_checks();
    update_levels();
}

void TWorkspace::setMatchBy(TMatchBy v) {
    fmatchby = v;
    update_levels();
}

void TWorkspace::setPeakTarget(TPeakTarget v) {
    fpeaktarget = v;
    update_levels();
}

void TWorkspace::setShowerror(bool v) {
    fshowerror = v;
    emit_checks();
    invalidate_views(true);
}

void TWorkspace::setShowallpass(bool v) {
    fshowallpass = v;
    emit_checks();
    invalidate_views(true);
}

void TWorkspace::setWavplayno(int32_t v) {
    if ((v == 0 || v == 1) && fwav[size_t(v)]->nsamples() > 0) fwavplayno = v;
    emit_checks();
}

void TWorkspace::setCursorpos(double v) {
    fcursorpos = v;
    invalidate_views(false);
}

TLoadedFile::TLoadedFile() = default;
TLoadedFile::TLoadedFile(TLoadedFile&&) noexcept = default;
TLoadedFile& TLoadedFile::operator=(TLoadedFile&&) noexcept = default;
TLoadedFile::~TLoadedFile() = default;

std::unique_ptr<TRealFilterSection> TWorkspace::allpass_copy() const {
    auto f = std::make_unique<TRealFilterSection>();
    f->setGain(fapfilter->Gain());
    f->setUnityGainAtHF(fapfilter->UnityGainAtHF());
    // Designed at the rate of the window description: apfilter may hold the
    // rate of a file for which the allpass cannot be designed, and the
    // measurement sets each file's own rate anyway.
    f->setSampFreq(16000);
    f->setFZero(fapfilter->FZero());
    f->setFPole(fapfilter->FPole());
    return f;
}

int32_t TWorkspace::conversion_rate(int slot) const {
    const TWav& other = *fwav[size_t(1 - slot)];
    return other.nsamples() > 0 ? other.sampfreq() : 0;
}

TLoadedFile TWorkspace::read_file(int slot, const QString& fname, TRealFilterSection& allpass,
                                  const std::atomic<bool>* cancel, const TLoadOptions& options) {
    const auto check = [&] {
        if (cancel && cancel->load())
            throw ELoadCancelled(QStringLiteral("Loading \"%1\" was cancelled").arg(fname));
    };
    check();
    // Whatever reader decodes the file: a named pipe, a device, a socket or a
    // folder is refused here, before any reader opens (and blocks on) it.
    check_regular_file(fname);
    try {
        TLoadedFile f;
        f.slot = slot;
        f.wav = std::make_unique<TWav>();
        f.wav->open_file(fname, false);
        f.sourcerate = f.wav->sampfreq();
        check();
        // Converted before the measurement: the levels are those of what is
        // heard and drawn. A conversion stops early only when cancelled.
        if (options.rate > 0 && options.rate != f.sourcerate) convert_rate(*f.wav, options.rate, cancel);
        check();
        auto levels = [&] {
            f.file = measure_levels(*f.wav, allpass, slot, f.levels, TLevelEngine::Best,
                                    options.summaries ? &f.summaries : nullptr);
        };
        if (options.loudness) {
            // The loudness costs several times the levels: its jobs and the
            // level measurement share the processors, the levels beside the
            // loudness's longest job.
            TLoudnessMeter meter(*f.wav, check);
            std::vector<std::function<void()>> jobs = meter.jobs();
            jobs.insert(jobs.begin() + std::ptrdiff_t(std::min<size_t>(1, jobs.size())), levels);
            run_parallel_jobs(jobs, compute_threads());
            f.loudness = meter.result();
        } else {
            levels();
        }
        if (options.align) {
            // On the samples as they will be played: both files at one rate.
            check();
            f.alignsignal = make_align_signal(*f.wav);
            if (const auto& other = options.other; other && !other->sum.empty()) {
                f.alignment = slot == 0 ? estimate_alignment(*f.alignsignal, *other)
                                        : estimate_alignment(*other, *f.alignsignal);
                f.alignedwith = other;
            }
        }
        return f;
    } catch (const std::bad_alloc&) {
        // Whatever was read is freed by now; the slot was never touched.
        throw memory_error(fname);
    }
}

EFileError TWorkspace::memory_error(const QString& fname) {
    return EFileError(QStringLiteral("Cannot read \"%1\": not enough memory to load and measure it").arg(fname));
}

void TWorkspace::load_file(int slot, const QString& fname) {
    // Measured with apfilter itself, which is then left at the file's rate.
    TLoadOptions options;
    options.summaries = fbuildsummaries;
    options.rate = conversion_rate(slot);
    options.loudness = fmeasureloudness;
    options.align = fautoalign;
    if (fautoalign) options.other = falignsignal[size_t(1 - slot)];
    commit_load(read_file(slot, fname, *fapfilter, nullptr, options));
}

void TWorkspace::commit_load(TLoadedFile&& f) {
    const size_t slot = size_t(f.slot);
    // Only a file read and measured completely gets here: an error before
    // leaves the workspace as it was.
    ferrorsummaries->samples_changing(f.slot);
    if (OnSamplesChanging) OnSamplesChanging(f.slot);
    fwav[slot]->swap_content(*f.wav);
    // A new pair: the estimate made with the load when it was made against
    // the other file of now, else none (alignment_due), and no offset. Set
    // before the time axis is fitted, which takes file 2's offset in.
    falignsignal[slot] = std::move(f.alignsignal);
    reset_alignment();
    fcorrectpolarity = false;
    const auto& other = falignsignal[1 - slot];
    if (f.alignment && other && f.alignedwith == other && fwav[1 - slot]->nsamples() > 0) {
        falignestimate = f.alignment;
        ffile2offset = f.alignment->aligned() ? f.alignment->offset : 0;
        fcorrectpolarity = f.alignment->aligned() && f.alignment->inverted;
    }
    if (OnAddToRecentFiles) OnAddToRecentFiles(fwav[slot]->filename());
    invalidate_views(true);
    if (OnResetTimeAxis) OnResetTimeAxis();

    flevels[slot] = std::move(f.levels);
    ffilerms[slot] = f.file.rms;
    ffilepeak[slot] = f.file.peak;
    fhasallpass[slot] = f.file.allpass;
    floudness[slot] = f.loudness;
    fsummaries[slot] = std::move(f.summaries);
    fsourcerate[slot] = f.sourcerate;
    update_levels();
    fplaycount = 0;
}

void TWorkspace::close_file(int slot) {
    ferrorsummaries->samples_changing(slot);
    if (OnSamplesChanging) OnSamplesChanging(slot);
    fwav[size_t(slot)]->new_file();
    falignsignal[size_t(slot)].reset();
    const bool aligned = falignestimate || ffile2offset != 0 || fbyhand || fcorrectpolarity;
    reset_alignment();
    fcorrectpolarity = false;
    // File 2's line loses its note; the line of a closed slot is empty.
    if (aligned && slot == 0 && fwav[1]->nsamples() > 0) finfoline[1] = slot_infoline(1);
    for (auto& row : flevels[size_t(slot)]) row.clear();
    fsummaries[size_t(slot)].clear();
    fsourcerate[size_t(slot)] = 0;
    fhasallpass[size_t(slot)] = true;
    finfoline[size_t(slot)].clear();
    if (OnInfoLinesChanged) OnInfoLinesChanged();
    if (OnResetTimeAxis) OnResetTimeAxis();
    if (aligned && OnAlignmentChanged) OnAlignmentChanged();
}

QString TWorkspace::decibel_text(double db) {
    QString t = QString::number(db, 'f', 1);
    if (t == QLatin1String("-0.0")) t = QStringLiteral("0.0");
    t.replace(QLatin1Char('.'), decimal_separator());
    return t;
}

QString TWorkspace::info_line(double rms, double peak, double factor, const QString& name) {
    const auto db = [](double level) {
        return level > 0 ? decibel_text(20 * std::log10(level)) : QStringLiteral("-inf");
    };
    const QString crest = rms > 0 && peak > 0 ? decibel_text(20 * std::log10(peak / rms)) : QStringLiteral("-");
    return QStringLiteral(" Crest=") + crest + QStringLiteral(" dB, ") + QStringLiteral(" RMS=") +
           db(rms * factor) + QStringLiteral(" dB, ") + QStringLiteral(" Peak=") + db(peak * factor) +
           QStringLiteral(" dB  -  ") + name;
}

QString TWorkspace::rate_note(int32_t from, int32_t to) {
    if (from == 0 || from == to) return {};
    return QStringLiteral(" (%1 Hz \u2192 %2 Hz)").arg(from).arg(to);
}

std::optional<double> TWorkspace::match_level(int slot) const {
    const TLoudness& l = floudness[size_t(slot)];
    switch (fmatchby) {
        case mbrms: return ffilerms[size_t(slot)];
        case mbintegrated:
            if (l.integrated) return std::pow(10.0, *l.integrated / 20);
            return std::nullopt;
        case mbshortterm:
            if (l.shortterm_max) return std::pow(10.0, *l.shortterm_max / 20);
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<double> TWorkspace::match_level_db(int slot) const {
    if (fwav[size_t(slot)]->nsamples() == 0 || !(ffilepeak[size_t(slot)] > 0)) return std::nullopt;
    const TLoudness& l = floudness[size_t(slot)];
    switch (fmatchby) {
        case mbrms:
            if (ffilerms[size_t(slot)] > 0) return 20 * std::log10(ffilerms[size_t(slot)]);
            return std::nullopt;
        case mbintegrated: return l.integrated;
        case mbshortterm: return l.shortterm_max;
    }
    return std::nullopt;
}

QString TWorkspace::loudness_suffix(const TLoudness& l, double factor, bool shortterm) {
    if (!l.measured) return {};
    const double gain = 20 * std::log10(factor);
    const auto lufs = [&](const std::optional<double>& v) { return v ? decibel_text(*v + gain) : QStringLiteral("-"); };
    QString tp = QStringLiteral("-");
    if (l.true_peak) {
        const double heard = *l.true_peak * factor;
        if (heard > 0) {
            const double db = 20 * std::log10(heard);
            tp = decibel_text(db);
            if (db > 0 && tp != decibel_text(0)) tp.prepend(QLatin1Char('+'));
        } else {
            tp = QStringLiteral("-inf");
        }
    }
    QString t = QStringLiteral("  |  ") + lufs(l.integrated) + QStringLiteral(" LUFS, LRA ") +
                (l.range ? decibel_text(*l.range) : QStringLiteral("-")) + QStringLiteral(" LU, TP ") + tp +
                QStringLiteral(" dBTP");
    if (shortterm) t += QStringLiteral(", max S ") + lufs(l.shortterm_max) + QStringLiteral(" LUFS");
    return t;
}

void TWorkspace::update_levels() {
    std::array<double, 2> peak{};
    for (size_t s = 0; s < 2; ++s) peak[s] = matching_peak(fpeaktarget, ffilepeak[s], floudness[s].true_peak);
    const std::array<double, 2> f =
        matching_factors({match_level(0), match_level(1)}, peak, peak_target_level(fpeaktarget));
    for (int s = 0; s < 2; ++s) ffilenormfactor[size_t(s)] = f[size_t(s)];
    for (int s = 0; s < 2; ++s) ffilefactor[size_t(s)] = fnormalize ? ffilenormfactor[size_t(s)] : 1.0;

    for (int s = 0; s < 2; ++s) finfoline[size_t(s)] = slot_infoline(s);
    if (OnInfoLinesChanged) OnInfoLinesChanged();
    invalidate_views(true);
}

QString TWorkspace::slot_infoline(int s) const {
    const TWav& w = *fwav[size_t(s)];
    if (w.nsamples() == 0) return QStringLiteral("-");
    // Notes about the file follow its name; the loudness fields come last.
    return info_line(ffilerms[size_t(s)], ffilepeak[size_t(s)], ffilefactor[size_t(s)],
                     QFileInfo(w.filename()).fileName() + rate_note(fsourcerate[size_t(s)], w.sampfreq()) +
                         alignment_note(s)) +
           loudness_suffix(floudness[size_t(s)], ffilefactor[size_t(s)], fmatchby == mbshortterm);
}

// ---- Alignment of file 2 to file 1 ----

namespace {

/// A number of frames with its sign ("+1105", "-3", "0") and unit.
QString frames_text(int64_t n) {
    return (n > 0 ? QStringLiteral("+") : QString()) + QString::number(n) +
           (std::abs(n) == 1 ? QStringLiteral(" sample") : QStringLiteral(" samples"));
}

QString fixed_text(double v, int decimals) {
    QString t = QString::number(v, 'f', decimals);
    t.replace(QLatin1Char('.'), decimal_separator());
    return t;
}

}  // namespace

bool TWorkspace::file2negated() const {
    return fcorrectpolarity && falignestimate && falignestimate->aligned() && falignestimate->inverted;
}

double TWorkspace::slot_time(int slot, double t) const {
    const int32_t fs = fwav[size_t(slot)]->sampfreq();
    return slot == 1 && fs > 0 ? t + double(ffile2offset) / fs : t;
}

double TWorkspace::timeline_duration() const {
    double T = fwav[0]->tottime();
    const TWav& w2 = *fwav[1];
    if (w2.nsamples() > 0 && w2.sampfreq() > 0) T = std::max(T, double(w2.nsamples() - ffile2offset) / w2.sampfreq());
    return std::max(T, 0.0);
}

void TWorkspace::reset_alignment() {
    falignestimate.reset();
    ffile2offset = 0;
    fbyhand = false;
}

bool TWorkspace::alignment_due() const {
    return fautoalign && !falignestimate && fwav[0]->nsamples() > 0 && fwav[1]->nsamples() > 0;
}

void TWorkspace::alignment_changed() {
    finfoline[1] = slot_infoline(1);
    if (OnInfoLinesChanged) OnInfoLinesChanged();
    invalidate_views(true);
    emit_checks();
    if (OnAlignmentChanged) OnAlignmentChanged();
}

bool TWorkspace::apply_alignment(const TAlignment& a, const TAlignSignal* file1, const TAlignSignal* file2) {
    if (!file1 || file1 != falignsignal[0].get() || file2 != falignsignal[1].get()) return false;
    if (fwav[0]->nsamples() == 0 || fwav[1]->nsamples() == 0) return false;
    falignestimate = a;
    ffile2offset = a.aligned() ? a.offset : 0;
    fbyhand = false;
    fcorrectpolarity = a.aligned() && a.inverted;
    alignment_changed();
    return true;
}

void TWorkspace::align_files() {
    if (fwav[0]->nsamples() == 0 || fwav[1]->nsamples() == 0) return;
    for (int s = 0; s < 2; ++s)
        if (!falignsignal[size_t(s)]) falignsignal[size_t(s)] = make_align_signal(*fwav[size_t(s)]);
    apply_alignment(estimate_alignment(*falignsignal[0], *falignsignal[1]), falignsignal[0].get(),
                    falignsignal[1].get());
}

void TWorkspace::nudge_file2(int64_t frames) {
    if (fwav[0]->nsamples() == 0 || fwav[1]->nsamples() == 0) return;
    // Far beyond any file's length, yet every timeline frame plus the
    // offset still fits the play position's arithmetic.
    constexpr int64_t limit = int64_t(1) << 30;
    ffile2offset = std::clamp<int64_t>(ffile2offset + frames, -limit, limit);
    fbyhand = true;
    alignment_changed();
}

int64_t TWorkspace::millisecond_frames() const {
    return std::max<int64_t>(1, round_int(fwav[1]->sampfreq() / 1000.0));
}

void TWorkspace::clear_alignment() {
    if (fwav[0]->nsamples() == 0 || fwav[1]->nsamples() == 0) return;
    ffile2offset = 0;
    fbyhand = true;
    alignment_changed();
}

void TWorkspace::setCorrectpolarity(bool v) {
    fcorrectpolarity = v;
    alignment_changed();
}

QString TWorkspace::alignment_note(int slot) const {
    if (slot != 1 || (!falignestimate && !fbyhand)) return {};
    const auto offset_text = [this] {
        const int32_t fs = fwav[1]->sampfreq();
        return frames_text(ffile2offset) + QStringLiteral(", ") +
               decibel_text(fs > 0 ? double(ffile2offset) * 1000.0 / fs : 0.0) + QStringLiteral(" ms");
    };
    QString note;
    if (fbyhand) {
        note = ffile2offset == 0 ? QStringLiteral("no alignment") : offset_text() + QStringLiteral(", set by hand");
    } else if (falignestimate->aligned()) {
        note = offset_text() + QStringLiteral(", r=") + fixed_text(falignestimate->r, 3);
    } else if (falignestimate->status == asratesdiffer) {
        note = QStringLiteral("not aligned: sampling rates differ");
    } else if (falignestimate->status == astooshort) {
        note = QStringLiteral("not aligned: too short");
    } else {
        // Two decimals, cut rather than rounded: a value just below the
        // threshold must not read as 0.50.
        note = QStringLiteral("not aligned: r=") + fixed_text(std::floor(falignestimate->r * 100) / 100, 2);
    }
    if (falignestimate && falignestimate->aligned() && falignestimate->inverted)
        note += fcorrectpolarity ? QStringLiteral(", polarity corrected") : QStringLiteral(", polarity inverted");
    return QStringLiteral("  [") + note + QStringLiteral("]");
}

}  // namespace wavrell
