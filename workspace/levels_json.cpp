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
        if (w.nsamples() == 0) {
            entries.append(QJsonValue(QJsonValue::Null));
            continue;
        }
        const double rms = ws.filerms(s), peak = ws.filepeak(s);
        const TLoudness& l = ws.loudness(s);
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
        o.insert(QStringLiteral("factor"), ws.filefactor(s));
        entries.append(o);
    }
    return QJsonDocument(entries).toJson(QJsonDocument::Indented);
}

}  // namespace wavrell
