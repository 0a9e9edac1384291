// The null test on the command line.
#include "app/diff_command.h"

#include "app/command_line.h"
#include "workspace/difference.h"
#include "workspace/workspace.h"
#include "audio/rate_conversion.h"
#include "audio/wav_file.h"
#include "common/errors.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cmath>
#include <exception>
#include <new>

namespace wavrell {

namespace {

/// A finite number, or null (JSON has no infinity).
QJsonValue number_or_null(const std::optional<double>& v) {
    return v && std::isfinite(*v) ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

QByteArray figures_json(const TDifferenceFigures& f, const TAlignment& a) {
    const bool numbers = !f.identical;
    const auto figure = [&](double v) { return number_or_null(numbers ? std::optional<double>(v) : std::nullopt); };
    QJsonObject o;
    o.insert(QStringLiteral("null_depth_db"), figure(f.null_depth_db));
    o.insert(QStringLiteral("block_median_db"), number_or_null(numbers ? f.block_median_db : std::nullopt));
    o.insert(QStringLiteral("block_p95_db"), number_or_null(numbers ? f.block_p95_db : std::nullopt));
    o.insert(QStringLiteral("block_max_db"), number_or_null(numbers ? f.block_max_db : std::nullopt));
    o.insert(QStringLiteral("gain_db"), figure(f.gain_db()));
    o.insert(QStringLiteral("offset_frames"), f.delay);
    o.insert(QStringLiteral("drift_ppm"), figure(f.drift_ppm));
    o.insert(QStringLiteral("polarity"), a.inverted ? QStringLiteral("inverted") : QStringLiteral("normal"));
    o.insert(QStringLiteral("r"), a.r);
    o.insert(QStringLiteral("overlap_frames"), double(f.overlap_frames));
    o.insert(QStringLiteral("identical"), f.identical);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

}  // namespace

int run_diff(const QString& file1, const QString& file2, bool json, FILE* out, FILE* err) {
    const QString files[2] = {file1, file2};
    int reading = 0;
    try {
        TWav w[2];
        for (reading = 0; reading < 2; ++reading) {
            w[reading].open_file(files[reading]);
            if (reading == 1) convert_rate(w[1], w[0].sampfreq());
        }
        reading = -1;
        const TAlignment a = estimate_alignment(*make_align_signal(w[0]), *make_align_signal(w[1]));
        if (!a.aligned()) {
            if (a.status == astooshort)
                print(err, QStringLiteral("%1 or %2 is too short to align (less than %3 s)\n")
                               .arg(file1, file2).arg(kAlignMinSeconds));
            print(out, QStringLiteral("not aligned r=%1\n").arg(a.r, 0, 'f', 3));
            return 2;
        }
        const auto d = compute_difference(w[0], w[1], a.offset, a.inverted ? -1 : 1, false);
        const TDifferenceFigures& f = d->figures();
        if (json) {
            const QByteArray b = figures_json(f, a);
            std::fwrite(b.constData(), 1, size_t(b.size()), out);
            std::fflush(out);
        } else {
            print(out, QStringLiteral("Difference: ") + difference_text(f, QLocale::c()) + QLatin1Char('\n'));
        }
        if (!f.overlap) {
            print(err, QStringLiteral("%1 and %2 do not overlap\n").arg(file1, file2));
            return 2;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        const QString name = reading >= 0 ? files[reading] : file1 + QStringLiteral(" and ") + file2;
        print(err, display_text(TWorkspace::memory_error(name).message()) + QLatin1Char('\n'));
    } catch (const Exception& e) {
        print(err, display_text(e.message()) + QLatin1Char('\n'));
    } catch (const std::exception& e) {
        print(err, QString::fromLocal8Bit(e.what()) + QLatin1Char('\n'));
    }
    return 1;
}

}  // namespace wavrell
