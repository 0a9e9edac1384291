#include "workspace/workspace.h"

#include "audio/wav_file.h"
#include "common/number_text.h"
#include "common/parallel_jobs.h"
#include "dsp/filter_section.h"

#include <QFileInfo>

#include <cmath>

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
}

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

TLoadedFile TWorkspace::read_file(int slot, const QString& fname, TRealFilterSection& allpass,
                                  const std::atomic<bool>* cancel, bool summaries, bool loudness) {
    const auto check = [&] {
        if (cancel && cancel->load())
            throw ELoadCancelled(QStringLiteral("Loading \"%1\" was cancelled").arg(fname));
    };
    check();
    TLoadedFile f;
    f.slot = slot;
    f.wav = std::make_unique<TWav>();
    f.wav->open_file(fname, false);
    check();
    auto levels = [&] {
        f.file = measure_levels(*f.wav, allpass, slot, f.levels, TLevelEngine::Best,
                                summaries ? &f.summaries : nullptr);
    };
    if (!loudness) {
        levels();
        return f;
    }
    // The loudness costs several times the levels: its jobs and the level
    // measurement share the processors, the levels beside the loudness's
    // longest job.
    TLoudnessMeter meter(*f.wav, check);
    std::vector<std::function<void()>> jobs = meter.jobs();
    jobs.insert(jobs.begin() + std::ptrdiff_t(std::min<size_t>(1, jobs.size())), levels);
    run_parallel_jobs(jobs, compute_threads());
    f.loudness = meter.result();
    return f;
}

void TWorkspace::load_file(int slot, const QString& fname) {
    // Measured with apfilter itself, which is then left at the file's rate.
    commit_load(read_file(slot, fname, *fapfilter, nullptr, fbuildsummaries, fmeasureloudness));
}

void TWorkspace::commit_load(TLoadedFile&& f) {
    const size_t slot = size_t(f.slot);
    // Only a file read and measured completely gets here: an error before
    // leaves the workspace as it was.
    fwav[slot]->swap_content(*f.wav);
    if (OnAddToRecentFiles) OnAddToRecentFiles(fwav[slot]->filename());
    invalidate_views(true);
    if (OnResetTimeAxis) OnResetTimeAxis();

    flevels[slot] = std::move(f.levels);
    ffilerms[slot] = f.file.rms;
    ffilepeak[slot] = f.file.peak;
    floudness[slot] = f.loudness;
    fsummaries[slot] = std::move(f.summaries);
    update_levels();
    fplaycount = 0;
}

void TWorkspace::close_file(int slot) {
    fwav[size_t(slot)]->new_file();
    for (auto& row : flevels[size_t(slot)]) row.clear();
    fsummaries[size_t(slot)].clear();
    finfoline[size_t(slot)].clear();
    if (OnInfoLinesChanged) OnInfoLinesChanged();
    if (OnResetTimeAxis) OnResetTimeAxis();
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
    const std::array<double, 2> f = matching_factors({match_level(0), match_level(1)}, ffilepeak);
    for (int s = 0; s < 2; ++s) ffilenormfactor[size_t(s)] = f[size_t(s)];
    for (int s = 0; s < 2; ++s) ffilefactor[size_t(s)] = fnormalize ? ffilenormfactor[size_t(s)] : 1.0;

    for (int s = 0; s < 2; ++s) {
        const TWav& w = *fwav[size_t(s)];
        // The loudness fields come after everything else on the line.
        finfoline[size_t(s)] = w.nsamples() == 0
                                   ? QStringLiteral("-")
                                   : info_line(ffilerms[size_t(s)], ffilepeak[size_t(s)], ffilefactor[size_t(s)],
                                               QFileInfo(w.filename()).fileName()) +
                                         loudness_suffix(floudness[size_t(s)], ffilefactor[size_t(s)],
                                                         fmatchby == mbshortterm);
    }
    if (OnInfoLinesChanged) OnInfoLinesChanged();
    invalidate_views(true);
}

}  // namespace wavrell
