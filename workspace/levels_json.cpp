#include "workspace/levels_json.h"

#include "workspace/workspace.h"
#include "audio/wav_file.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <optional>

namespace wavrell {

namespace {

QJsonValue number(const std::optional<double>& v) {
    return v && std::isfinite(*v) ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

/// dB of a level in full-scale units; none for a level that is not above 0.
std::optional<double> decibels(double level) {
    if (level > 0) return 20 * std::log10(level);
    return std::nullopt;
}

}  // namespace

QByteArray levels_json(const TWorkspace& ws) {
    QJsonArray entries;
    for (int s = 0; s < 2; ++s) {
        const TWav& w = *ws.wav(s);
        if (!ws.hasfile(s)) {
            entries.append(QJsonValue(QJsonValue::Null));
            continue;
        }
        // The file's own levels: the store's with the gain it was stored
        // with taken out.
        const double g = ws.storegain(s);
        const double rms = ws.filerms(s) / g, peak = ws.filepeak(s) / g;
        const TLoudness l = loudness_scaled(ws.loudness(s), 1 / g);
        QJsonObject o;
        o.insert(QStringLiteral("file"), w.filename());
        o.insert(QStringLiteral("rate"), w.sampfreq());
        o.insert(QStringLiteral("channels"), w.nchans());
        o.insert(QStringLiteral("frames"), w.nsamples());
        o.insert(QStringLiteral("crest_db"),
                 number(rms > 0 && peak > 0 ? decibels(peak / rms) : std::nullopt));
        o.insert(QStringLiteral("rms_dbfs"), number(decibels(rms)));
        o.insert(QStringLiteral("peak_dbfs"), number(decibels(peak)));
        o.insert(QStringLiteral("lufs_i"), number(l.integrated));
        o.insert(QStringLiteral("lra_lu"), number(l.range));
        o.insert(QStringLiteral("lufs_s_max"), number(l.shortterm_max));
        o.insert(QStringLiteral("true_peak_dbtp"), number(l.true_peak ? decibels(*l.true_peak) : std::nullopt));
        o.insert(QStringLiteral("stored_gain_db"), 20 * std::log10(g));
        o.insert(QStringLiteral("factor"), ws.reportfactor(s));
        entries.append(o);
    }
    return QJsonDocument(entries).toJson(QJsonDocument::Indented);
}

}  // namespace wavrell
