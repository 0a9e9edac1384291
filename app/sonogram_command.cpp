// The spectrogram pictures of the command line: one lane per file on the
// shared time axis, with frequency axis, time axis, colour legend and the
// file's name, painted on an image without any display.
#include "app/sonogram_command.h"

#include "app/sonogram_paint.h"
#include "workspace/alignment.h"
#include "workspace/difference.h"
#include "workspace/frame_source.h"
#include "workspace/spectrogram.h"
#include "audio/rate_conversion.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "common/native_file_name.h"
#include "common/parallel_jobs.h"
#include "common/regular_file.h"

#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace wavrell {

namespace {

void print_error(const QString& text) {
    const QByteArray b = native_file_name(text + QLatin1Char('\n'));
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

/// One lane of the picture: what is drawn and its caption.
struct TLane {
    std::unique_ptr<TFrameSource> source;
    QString caption;
};

// Margins around each lane's plot, pixels.
constexpr int kLeft = 78, kRight = 92, kTop = 26, kBottom = 34;

}  // namespace

}  // namespace wavrell

int wavrell_spectrogram_main(int argc, char** argv, const wavrell::TCommandLine& cl) {
    using namespace wavrell;
    // Painting text needs the application object of Qt Gui, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::vector<std::unique_ptr<TWav>> wavs;
    std::vector<TLane> lanes;
    double seconds = 0;
    QString current;
    try {
        for (const QString& name : cl.files) {
            current = name;
            check_regular_file(name);
            auto w = std::make_unique<TWav>();
            w->open_file(name, false);
            wavs.push_back(std::move(w));
        }
        current.clear();
        TWav& w1 = *wavs[0];
        int64_t offset = 0;
        std::shared_ptr<const TDifference> difference;
        if (wavs.size() > 1) {
            // File 2 as the window places it: at file 1's rate, aligned.
            current = cl.files[1];
            TWav& w2 = *wavs[1];
            if (w2.sampfreq() != w1.sampfreq()) convert_rate(w2, w1.sampfreq());
            const TAlignment a = estimate_alignment(*make_align_signal(w1), *make_align_signal(w2));
            if (a.aligned()) offset = a.offset;
            current.clear();
            // Their difference as the window takes it, where it can be taken.
            if (a.aligned()) {
                try {
                    difference = compute_difference(w1, w2, a.offset, a.inverted ? -1 : 1, true);
                } catch (const EDifferenceError&) {  // e.g. other channel counts: no difference to draw
                } catch (const std::bad_alloc&) {  // the files' pictures still can be made
                    print_error(QStringLiteral("No difference picture: not enough memory for the difference"));
                }
                if (difference && !difference->figures().overlap) difference.reset();
            }
        }
        const double fs = w1.sampfreq();
        int64_t frames = w1.nsamples();
        for (size_t k = 0; k < wavs.size(); ++k) {
            const int64_t shift = k == 1 ? offset : 0;
            lanes.push_back({std::make_unique<TWavFrameSource>(*wavs[k], shift), cl.files[int(k)]});
            frames = std::max(frames, int64_t(wavs[k]->nsamples()) - shift);
        }
        if (difference) lanes.push_back({std::make_unique<TDifferenceFrameSource>(difference), QStringLiteral("Difference")});
        seconds = std::max(double(frames) / fs, 1.0 / fs);
    } catch (const std::bad_alloc&) {
        print_error(QStringLiteral("Cannot read \"%1\": not enough memory").arg(current.isEmpty() ? cl.files.last() : current));
        return 1;
    } catch (const Exception& e) {
        print_error(display_text(e.message()));
        return 1;
    }

    const int W = cl.width, H = cl.height;
    const int laneh = kTop + H + kBottom;
    QImage image;
    try {
        image = QImage(kLeft + W + kRight, laneh * int(lanes.size()), QImage::Format_RGB32);
        if (image.isNull()) throw std::bad_alloc();
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setPen(Qt::black);
        const TFrequencyAxis axis{wavs[0]->sampfreq() / 2.0, cl.logfreq, H};
        for (size_t k = 0; k < lanes.size(); ++k) {
            TSpectrogramPicture picture;
            spectrogram_picture(*lanes[k].source, -1, 0, seconds, W, axis, cl.fftsize, picture, nullptr,
                                compute_threads());
            const QRect plot(kLeft, int(k) * laneh + kTop, W, H);
            painter.drawImage(plot.topLeft(), spectrogram_image(picture, kRangeFloorDefault, 0, QColor(230, 230, 230)));
            painter.drawRect(plot.adjusted(-1, -1, 0, 0));
            painter.drawText(QPoint(plot.left(), plot.top() - 8), lanes[k].caption);
            draw_frequency_axis(painter, plot, axis);
            draw_time_axis(painter, plot, 0, seconds);
            draw_level_legend(painter, QRect(plot.right() + 14, plot.top() + 14, 16, H - 14), kRangeFloorDefault);
        }
    } catch (const std::bad_alloc&) {
        print_error(QStringLiteral("Cannot write \"%1\": not enough memory for the picture").arg(cl.output));
        return 1;
    }
    QImageWriter writer(cl.output, "png");
    if (!writer.write(image)) {
        print_error(QStringLiteral("Cannot write \"%1\": %2").arg(cl.output, writer.errorString()));
        return 2;
    }
    return 0;
}
