// The lanes as spectrograms in the real window (offscreen): the "View"
// menu's commands, the pictures made on a worker and kept per zoom level,
// the frequency axes and legend, the hover readout and the spectrum panel.
#include "app/difference_view.h"
#include "app/sonogram_paint.h"
#include "app/sonogram_view.h"
#include "app/spectrum_panel.h"
#include "tests/app/window_fixture.h"
#include "tests/support/sink_capture.h"
#include "workspace/difference.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>

namespace wavrell::test {
namespace {

int brightness(QRgb c) { return qRed(c) + qGreen(c) + qBlue(c); }

class SpectrogramView : public WindowTest {
protected:
    TSpectrogramView& view() { return *form->spectrogramview; }
    /// Waits until every lane has its picture for the view in force.
    void wait_complete() {
        for (int i = 0; i < 3000 && !view().complete(); ++i) QTest::qWait(10);
        ASSERT_TRUE(view().complete());
        QApplication::processEvents();
    }
    /// 4 s stereo: `first` Hz for 2 s, then `second` Hz for 2 s, −6 dBFS,
    /// without dither (so that silence is digital silence).
    QString two_tones(const QString& name, double first, double second) {
        const QString out = dir->filePath(name + QStringLiteral(".wav"));
        const auto tone = [](double hz) {
            return QStringList{QStringLiteral("synth"), QStringLiteral("2"), QStringLiteral("sine"), QString::number(hz),
                               QStringLiteral("gain"), QStringLiteral("-6")};
        };
        EXPECT_TRUE(sox(QStringList{QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                    QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), out} +
                        tone(first) + QStringList{QStringLiteral(":")} + tone(second)));
        return out;
    }
    /// Row of lane t at `hz`.
    int row_of(int t, double hz) {
        const TFrequencyAxis axis{ws().wav(t / 2)->sampfreq() / 2.0, view().settings().logfreq,
                                  form->PaintBox[size_t(t)]->height()};
        return int(axis.y_of(hz));
    }
};

// The View menu holds the commands with their keys, FFT sizes and ranges.
TEST_F(SpectrogramView, MenuCommands) {
    ASSERT_NE(form->ViewMenu, nullptr);
    QStringList items;
    for (QAction* a : form->ViewMenu->actions())
        if (!a->isSeparator()) items << a->text().remove(QLatin1Char('&'));
    const qsizetype first = items.indexOf(QStringLiteral("Spectrogram"));
    ASSERT_GE(first, 0);
    EXPECT_EQ(items.mid(first), (QStringList{"Spectrogram", "Logarithmic frequency", "FFT size", "Range", "Spectrum"}));
    EXPECT_EQ(view().spectrogramaction->shortcut(), QKeySequence(QStringLiteral("Ctrl+G")));
    EXPECT_EQ(view().spectrumaction->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+G")));
    QStringList sizes, ranges;
    for (QAction* a : view().fftmenu->actions()) sizes << a->text();
    for (QAction* a : view().rangemenu->actions()) ranges << a->text();
    EXPECT_EQ(sizes, (QStringList{"1024", "2048", "4096", "8192", "16384"}));
    EXPECT_EQ(ranges, (QStringList{"-90 dB", "-120 dB", "-150 dB"}));
    // The View menu comes right after Levels.
    QStringList menus;
    for (QAction* m : form->menuBar()->actions()) menus << m->text().remove(QLatin1Char('&'));
    EXPECT_EQ(menus.indexOf(QStringLiteral("View")), menus.indexOf(QStringLiteral("Levels")) + 1);
}

// Turned on: each lane shows its tone's row lit at the tone's time, the rest
// in the floor's colour; a silent file 2 is the floor's colour throughout;
// frequency axes replace the amplitude axes and the legend narrows the lanes
// and the time axis alike. Turned off: the waveforms are back.
TEST_F(SpectrogramView, LanesShowTheTones) {
    form->load_file(0, two_tones(QStringLiteral("t"), 1000, 5000));
    form->load_file(1, synth(QStringLiteral("silence.wav"),
                             {QStringLiteral("-D"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("2"),
                              QStringLiteral("-b"), QStringLiteral("16")},
                             {QStringLiteral("trim"), QStringLiteral("0"), QStringLiteral("4")}));
    const int widthbefore = form->PaintBox[0]->width();
    view().spectrogramaction->trigger();
    wait_complete();
    EXPECT_LT(form->PaintBox[0]->width(), widthbefore);
    EXPECT_EQ(form->PaintBox[0]->width(), form->xaxis->width());
    EXPECT_FALSE(form->yaxis[0]->isVisible());
    const QRgb floor = level_colour(-300, kRangeFloorDefault) | 0xFF000000u;
    for (int t = 0; t < 2; ++t) {
        const QImage img = box(t);
        const int W = img.width();
        for (auto [x, lit, dark] : {std::tuple{W / 4, 1000.0, 5000.0}, std::tuple{3 * W / 4, 5000.0, 1000.0}}) {
            EXPECT_GT(qRed(img.pixel(x, row_of(t, lit))), 200) << "lane " << t << ", " << lit << " Hz";
            // Nothing but the quantization's spurs, raised by the matching.
            EXPECT_LE(brightness(img.pixel(x, row_of(t, dark))), brightness(level_colour(-80, kRangeFloorDefault)))
                << "lane " << t << ", " << dark << " Hz";
        }
    }
    const QImage silent = box(2);  // right of the cursor at 0 s
    for (int y = 0; y < silent.height(); y += 5)
        for (int x = 4; x < silent.width(); x += 9) ASSERT_EQ(silent.pixel(x, y), floor) << x << ", " << y;
    view().spectrogramaction->trigger();
    QApplication::processEvents();
    EXPECT_EQ(form->PaintBox[0]->width(), widthbefore);
    EXPECT_TRUE(form->yaxis[0]->isVisible());
}

// A zoom level gone through before shows at once from the pictures kept;
// a new one is made; the settings make new ones.
TEST_F(SpectrogramView, ZoomLevelsAreKept) {
    form->load_file(0, two_tones(QStringLiteral("t"), 1000, 5000));
    view().spectrogramaction->trigger();
    wait_complete();
    const int full = view().pictures_made();
    form->xaxis->set_hilovalues(2.5, 3.0);
    QApplication::processEvents();
    wait_complete();
    EXPECT_EQ(view().pictures_made(), full + 2);
    // The zoomed lane shows only the second tone.
    const QImage zoomed = box(0);
    EXPECT_GT(qRed(zoomed.pixel(5, row_of(0, 5000))), 200);
    form->xaxis->set_hilovalues(0, 4);
    QApplication::processEvents();
    EXPECT_TRUE(view().complete());
    EXPECT_EQ(view().pictures_made(), full + 2);
    view().setFftSize(16384);
    view().setLogFrequency(true);
    wait_complete();
    EXPECT_EQ(view().pictures_made(), full + 4);
}

// Closing or replacing a file while its pictures are being made stops the
// work first: no crash, and the lanes follow the files of now.
TEST_F(SpectrogramView, FilesChangeWhileWorking) {
    const QString f = two_tones(QStringLiteral("t"), 1000, 5000);
    form->load_file(0, f);
    view().setFftSize(1024);
    view().spectrogramaction->trigger();
    form->repaint();
    ws().close_file(0);
    form->repaint();
    form->load_file(0, two_tones(QStringLiteral("u"), 3000, 3000));
    wait_complete();
    const QImage img = box(0);
    EXPECT_GT(qRed(img.pixel(img.width() / 4, row_of(0, 3000))), 200);
}

// Hovering a lane shows time, frequency and level there: the file's level,
// raised by the level matching when that is on (the lanes show what is
// heard).
TEST_F(SpectrogramView, HoverReadout) {
    form->load_file(0, two_tones(QStringLiteral("t"), 1000, 5000));
    view().spectrogramaction->trigger();
    TPaintBox* b = form->PaintBox[0];
    const int x = b->width() / 4, y = row_of(0, 1000);
    for (bool matching : {false, true}) {
        ws().setNormalize(matching);
        wait_complete();
        QMouseEvent move(QEvent::MouseMove, QPointF(x, y), b->mapToGlobal(QPointF(x, y)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(b, &move);
        const QString r = view().readout();
        const QStringList parts = r.split(QStringLiteral("  "));
        ASSERT_EQ(parts.size(), 3) << r.toStdString();
        EXPECT_NEAR(parts[0].chopped(2).toDouble(), form->xaxis->pixel_to_value(x), 0.01);
        const TFrequencyAxis axis{22050, false, b->height()};
        EXPECT_EQ(parts[1], frequency_text(axis.hz_at(y + 0.5)));
        EXPECT_NEAR(parts[2].chopped(5).toDouble(), -6 + 20 * std::log10(ws().filefactor(0)), 1.5) << r.toStdString();
    }
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(b, &leave);
    EXPECT_TRUE(view().readout().isEmpty());
}

// The spectrum panel plots both files over the visible range, follows the
// zoom, and takes the loop range when one is set.
TEST_F(SpectrogramView, SpectrumPanelFollowsTheView) {
    form->load_file(0, two_tones(QStringLiteral("t"), 1000, 5000));
    form->load_file(1, two_tones(QStringLiteral("u"), 2000, 7000));
    view().spectrumaction->trigger();
    ASSERT_NE(view().spectrumpanel, nullptr);
    EXPECT_TRUE(view().spectrumpanel->isVisible());
    const auto peaks = [&] {
        TSpectrumPanel& p = *view().spectrumpanel;
        for (int i = 0; i < 2000 && !p.ready(); ++i) QTest::qWait(10);
        EXPECT_TRUE(p.ready());
        std::vector<double> hz;
        for (int k = 0; k < 2; ++k) {
            const std::vector<float>& c = p.curves()[size_t(k)];
            if (c.empty()) return std::vector<double>{};
            hz.push_back((std::max_element(c.begin(), c.end()) - c.begin()) * p.binhz());
        }
        return hz;
    };
    const auto near = [](const std::vector<double>& got, std::vector<double> want) {
        if (got.size() != want.size()) return false;
        for (size_t i = 0; i < got.size(); ++i)
            if (std::abs(got[i] - want[i]) > 15) return false;
        return true;
    };
    form->xaxis->set_hilovalues(0.2, 1.8);
    QApplication::processEvents();
    EXPECT_TRUE(near(peaks(), {1000, 2000}));
    form->xaxis->set_hilovalues(2.2, 3.8);
    QApplication::processEvents();
    EXPECT_TRUE(near(peaks(), {5000, 7000}));
    EXPECT_TRUE(view().spectrumpanel->caption->text().startsWith(QStringLiteral("Visible range")));
    form->setLoop(0.5, 1.5);
    QApplication::processEvents();
    EXPECT_TRUE(near(peaks(), {1000, 2000}));
    EXPECT_TRUE(view().spectrumpanel->caption->text().startsWith(QStringLiteral("Loop range")));
    view().spectrumaction->trigger();
    EXPECT_FALSE(view().spectrumpanel->isVisible());
}

// With the difference lane shown, it is a spectrogram too, and the
// spectrum panel plots the difference as its third curve: file 2 is file 1
// (1 kHz) with a quiet 12 kHz tone added, so the difference holds the
// 12 kHz row and nothing of the 1 kHz.
TEST_F(SpectrogramView, DifferenceLaneAndCurve) {
    const QString f1 = sine(QStringLiteral("f1.wav"), 44100, 2, 4, 1000, 0.5);
    const QString tone = sine(QStringLiteral("tone.wav"), 44100, 2, 4, 12000, 0.001);
    const QString f2 = dir->filePath(QStringLiteral("f2.wav"));
    ASSERT_TRUE(sox({QStringLiteral("-D"), QStringLiteral("-m"), QStringLiteral("-v"), QStringLiteral("1"), f1,
                     QStringLiteral("-v"), QStringLiteral("1"), tone, f2}));
    form->load_file(0, f1);
    form->load_file(1, f2);
    TDifferenceView& dv = *form->differenceview;
    ASSERT_TRUE(wait_until([&] { return dv.difference() != nullptr; }, 30000));
    dv.showaction->trigger();
    view().spectrogramaction->trigger();
    wait_complete();
    const QImage lane = dv.lane->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const TFrequencyAxis axis{22050, false, lane.height()};
    for (int x : {lane.width() / 4, lane.width() / 2, 3 * lane.width() / 4}) {
        EXPECT_GE(brightness(lane.pixel(x, int(axis.y_of(12000)))), brightness(level_colour(-70, kRangeFloorDefault)))
            << x;
        EXPECT_LE(brightness(lane.pixel(x, int(axis.y_of(1000)))), brightness(level_colour(-85, kRangeFloorDefault)))
            << x;
    }
    // Off again: the lane draws the difference's waveform, no longer the
    // spectrogram's dark ground.
    view().spectrogramaction->trigger();
    QApplication::processEvents();
    const QImage wave = dv.lane->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto dark_share = [](const QImage& img) {
        int dark = 0, all = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); x += 3, ++all) dark += brightness(img.pixel(x, y)) < 60;
        return double(dark) / all;
    };
    EXPECT_GT(dark_share(lane), 0.8);
    EXPECT_LT(dark_share(wave), 0.05);

    view().spectrumaction->trigger();
    TSpectrumPanel& p = *view().spectrumpanel;
    ASSERT_TRUE(wait_until([&] { return p.ready() && !p.curves()[2].empty(); }, 20000));
    const std::vector<float>& c = p.curves()[2];
    const double peak = double(std::max_element(c.begin(), c.end()) - c.begin()) * p.binhz();
    EXPECT_NEAR(peak, 12000, 15);
    EXPECT_LT(c[size_t(std::lround(1000 / p.binhz()))], *std::max_element(c.begin(), c.end()) - 30);
}

}  // namespace
}  // namespace wavrell::test
