#pragma once

// A shown main window on the offscreen platform, first activation done, with
// helpers for sox-written files and for reading the pixels of its boxes.

#include "app/main_window.h"
#include "app/paint_box.h"
#include "app/panel.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/message_box.h"
#include "plot/axis.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace wavrell::test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = build_temp_dir();
        // An error box would block the test: report it as a failure instead.
        set_message_box_hook([](const QString& text, const QString&, int) {
            ADD_FAILURE() << "message box: " << text.toStdString();
            return 0;
        });
        form = std::make_unique<TForm19>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        QApplication::setActiveWindow(form.get());
        // The offscreen platform may not send the activation at once.
        if (!form->activated) form->FormActivate();
        QApplication::processEvents();
    }
    void TearDown() override {
        form.reset();
        set_message_box_hook({});
    }

    TWorkspace& ws() { return form->workspace(); }

    /// Lets the error summaries of the loaded files be built (on their
    /// worker; the error view keeps its old pictures until then) and the
    /// boxes take them in. Fails the test after 20 s.
    void wait_for_error_summaries() {
        for (int s : {0, 1}) {
            if (ws().wav(s)->nsamples() == 0) continue;
            for (int i = 0; i < 2000 && !ws().error_summaries(s); ++i) QTest::qWait(10);
            ASSERT_NE(ws().error_summaries(s), nullptr) << "slot " << s;
        }
        QApplication::processEvents();
    }

    /// Runs sox with `-n` as input and the given effects into a new file.
    QString synth(const QString& name, const QStringList& before_out, const QStringList& effects) {
        const QString path = dir->filePath(name);
        QStringList args{QStringLiteral("-n")};
        args << before_out << path << effects;
        EXPECT_TRUE(sox(args));
        return path;
    }
    /// A sine of `hz` Hz, `seconds` long, amplitude `vol` of full scale.
    QString sine(const QString& name, int rate, int channels, double seconds, double hz, double vol) {
        return synth(name,
                     {QStringLiteral("-r"), QString::number(rate), QStringLiteral("-c"), QString::number(channels),
                      QStringLiteral("-b"), QStringLiteral("16")},
                     {QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"), QString::number(hz),
                      QStringLiteral("vol"), QString::number(vol)});
    }
    /// A file of the given interleaved samples, written by sox.
    QString raw_file(const QString& name, const std::vector<int16_t>& samples, int rate, int channels) {
        const QString path = dir->filePath(name);
        QByteArray raw(reinterpret_cast<const char*>(samples.data()), qsizetype(samples.size() * 2));
        EXPECT_TRUE(sox_write(path, raw, rate, channels));
        return path;
    }

    /// The waveform box t (0 … 3) as painted now.
    QImage box(int t) { return form->PaintBox[size_t(t)]->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QImage crest(int t) {
        return form->crestpaint[size_t(t)]->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TForm19> form;
};

/// Waits until the loudness measured after the loads is there (on its
/// worker). Fails the test after 60 s.
inline void wait_for_loudness(const TWorkspace& ws) {
    for (int i = 0; i < 6000 && (ws.loudness_pending(0) || ws.loudness_pending(1)); ++i) QTest::qWait(10);
    EXPECT_FALSE(ws.loudness_pending(0) || ws.loudness_pending(1)) << "loudness still measured";
}

/// What a file's information lines show when nothing is shortened: the
/// levels with the loudness fields, then the name with its notes.
inline QString shown_lines(const TWorkspace& ws, int slot) {
    if (ws.info_name(slot).isEmpty()) return QStringLiteral("-");
    return ws.info_levels(slot).trimmed() + QLatin1Char('\n') + ws.info_name(slot) + ws.info_notes(slot);
}

inline QRgb rgb(const QColor& c) { return c.rgb() | 0xFF000000u; }
inline bool is(const QImage& img, int x, int y, const QColor& c) { return img.pixel(x, y) == rgb(c); }

/// Rows of column x (frame rows excluded) painted in colour c.
inline std::vector<int> rows_of(const QImage& img, int x, const QColor& c) {
    std::vector<int> rows;
    for (int y = 1; y < img.height() - 1; ++y)
        if (is(img, x, y, c)) rows.push_back(y);
    return rows;
}

}  // namespace wavrell::test
