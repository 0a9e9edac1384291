#include "app/file_drop.h"
#include "app/main_window.h"
#include "app/paint_box.h"
#include "app/start_files.h"
#include "workspace/loudness_jobs.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "common/message_box.h"
#include "common/native_file_name.h"
#include "dsp/filter_section.h"
#include "plot/axis.h"
#include "settings/prog_id.h"
#include "settings/registry.h"
#include "shell/recent_files.h"
#include "tests/settings/isolated_folders.h"
#include "tests/app/window_fixture.h"
#include "tests/support/test_support.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QtEndian>

#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include <fcntl.h>
#include <unistd.h>

namespace wavrell {
namespace {

/// Writes a one-channel 8000 Hz WAV file with sox: `n` samples of a square
/// wave of amplitude `a`.
QString square_file(const QTemporaryDir& dir, const QString& name, int a, int n, int channels = 1) {
    QByteArray b(2 * n * channels, 0);
    for (int i = 0; i < n * channels; ++i) qToLittleEndian<int16_t>(int16_t((i / channels) % 2 ? -a : a), b.data() + 2 * i);
    const QString path = dir.filePath(name);
    EXPECT_TRUE(test::sox_write(path, b, 8000, channels));
    return path;
}

/// A store read from a file.
std::unique_ptr<TWav> read_store(const QString& path) {
    auto w = std::make_unique<TWav>();
    w->open_file(path);
    return w;
}

/// Runs the event loop until pred holds or 20 s have passed.
template <class P>
bool wait_for(P pred) {
    for (int i = 0; i < 2000 && !pred(); ++i) QTest::qWait(10);
    return pred();
}

/// Collects the message boxes shown while it lives.
struct MessageBoxes {
    QStringList texts;
    MessageBoxes() {
        set_message_box_hook([this](const QString& text, const QString&, int) {
            texts << text;
            return mb::IDOK;
        });
    }
    ~MessageBoxes() { set_message_box_hook({}); }
};

/// A window shown offscreen with its files in a temporary folder.
struct WindowFixture {
    std::unique_ptr<QTemporaryDir> dir = test::build_temp_dir();
    TForm19 w;
    WindowFixture() {
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
    }
    QString filename(int slot) { return w.workspace().wav(slot)->filename(); }
};

TEST(FileLoading, ReadFileTouchesNoWorkspaceAndCommitEqualsLoadFile) {
    auto dir = test::build_temp_dir();
    const QString f = square_file(*dir, QStringLiteral("sq.wav"), 8192, 24000, 2);
    TWorkspace direct, split;
    direct.setNormalize(true);
    split.setNormalize(true);
    direct.load_file(1, f);

    QStringList log;
    split.OnAddToRecentFiles = [&](const QString& n) { log << "recent " + n; };
    split.OnResetTimeAxis = [&] { log << "reset time axis"; };
    split.OnInfoLinesChanged = [&] { log << "lines"; };
    auto allpass = split.allpass_copy();
    TLoadedFile r = TWorkspace::read_file(1, f, *allpass);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(split.wav(1)->nsamples(), 0);
    EXPECT_EQ(split.infoline(1), QStringLiteral("-"));
    EXPECT_EQ(split.apfilter()->SampFreq(), 16000);  // the copy was tuned, not apfilter

    split.setPlaycount(99);
    split.commit_load(std::move(r));
    EXPECT_EQ(log, (QStringList{"recent " + f, "reset time axis", "lines"}));
    EXPECT_EQ(split.wav(1)->filename(), f);
    EXPECT_EQ(split.wav(1)->nsamples(), 24000);
    EXPECT_EQ(split.wav(1)->nchans(), 2);
    EXPECT_EQ(split.wav(1)->samples(), direct.wav(1)->samples());
    EXPECT_EQ(split.infoline(1), direct.infoline(1));
    EXPECT_EQ(split.filefactor(1), direct.filefactor(1));
    EXPECT_EQ(split.playcount(), 0);
    ASSERT_EQ(split.levels(1).size(), 4u);
    for (int row = 2; row < 4; ++row) {
        ASSERT_EQ(split.levels(1)[row].size(), direct.levels(1)[row].size());
        for (size_t k = 0; k < direct.levels(1)[row].size(); ++k) {
            EXPECT_EQ(split.levels(1)[row][k].rms, direct.levels(1)[row][k].rms);
            EXPECT_EQ(split.levels(1)[row][k].appeak, direct.levels(1)[row][k].appeak);
        }
    }

    // After a file at a rate where the allpass cannot be designed, apfilter
    // keeps that rate; copies for further loads still work.
    QByteArray k(2000, 0);
    const QString low = dir->filePath(QStringLiteral("low.wav"));
    ASSERT_TRUE(test::sox_write(low, k, 1000, 1));
    direct.close_file(1);  // else the file would be converted to that file's rate
    direct.load_file(0, low);
    EXPECT_EQ(direct.apfilter()->SampFreq(), 1000);
    auto again = direct.allpass_copy();
    EXPECT_EQ(TWorkspace::read_file(0, f, *again).file.peak, 8192 / 32768.0);

    std::atomic<bool> cancel{true};
    EXPECT_THROW(TWorkspace::read_file(0, f, *allpass, &cancel), ELoadCancelled);
    EXPECT_THROW(TWorkspace::read_file(0, dir->filePath("missing.wav"), *allpass), EFileError);
}

TEST(FileLoading, CommandLineFilesGoIntoSlotsInOrderAndABadOneIsReported) {
    MessageBoxes boxes;
    struct Case {
        const char* what;
        bool first_good, second_good;
    };
    for (const Case c : {Case{"both", true, true}, Case{"first bad", false, true}, Case{"one file", true, false}}) {
        WindowFixture fx;
        const QString a = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 8000);
        const QString b = square_file(*fx.dir, QStringLiteral("b.wav"), 2000, 4000);
        const QString missing = fx.dir->filePath(QStringLiteral("missing.wav"));
        QStringList files{c.first_good ? a : missing};
        if (c.second_good) files << b;
        boxes.texts.clear();
        open_start_files(fx.w, files);
        EXPECT_EQ(fx.filename(0), QString()) << c.what;  // not before the event loop runs
        ASSERT_TRUE(wait_for([&] {
            return (!c.second_good || fx.filename(1) == b) && (c.first_good ? fx.filename(0) == a : !boxes.texts.isEmpty());
        })) << c.what;
        QTest::qWait(50);
        EXPECT_EQ(fx.filename(0), c.first_good ? a : QString()) << c.what;
        EXPECT_EQ(fx.w.workspace().wav(0)->nsamples(), c.first_good ? 8000 : 0) << c.what;
        EXPECT_EQ(fx.w.workspace().wav(1)->nsamples(), c.second_good ? 4000 : 0) << c.what;
        EXPECT_EQ(fx.w.infolabel1->text(), test::shown_lines(fx.w.workspace(), 0)) << c.what;
        if (c.first_good) {
            EXPECT_TRUE(boxes.texts.isEmpty()) << c.what;
        } else {
            ASSERT_EQ(boxes.texts.size(), 1) << c.what;
            EXPECT_TRUE(boxes.texts[0].contains(QStringLiteral("missing.wav"))) << boxes.texts[0].toStdString();
        }
        // Loaded in order: the newest entry of the recent files is the last file.
        EXPECT_EQ(fx.w.RecentFiles1->filename(1), c.second_good ? b : a) << c.what;
    }
}

/// Sends a drag over `target` and, when it is accepted, drops it there.
/// Returns whether the enter, the move and the drop were accepted.
struct DragResult {
    bool enter = false, move = false, drop = false;
};
DragResult drag_and_drop(QWidget* target, QMimeData* data) {
    DragResult r;
    const QPoint pos(target->width() / 2, target->height() / 2);
    QDragEnterEvent enter(pos, Qt::CopyAction | Qt::LinkAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    r.enter = enter.isAccepted();
    if (!r.enter) return r;
    QDragMoveEvent move(pos + QPoint(1, 0), Qt::CopyAction | Qt::LinkAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    r.move = move.isAccepted();
    QDropEvent drop(QPointF(pos + QPoint(1, 0)), Qt::CopyAction | Qt::LinkAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    r.drop = drop.isAccepted();
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    return r;
}

std::unique_ptr<QMimeData> urls(const QList<QUrl>& list) {
    auto m = std::make_unique<QMimeData>();
    m->setUrls(list);
    return m;
}

TEST(FileLoading, FileDroppedOnEachFilesBoxesLoadsIntoThatSlot) {
    MessageBoxes boxes;
    WindowFixture fx;
    TForm19& w = fx.w;
    const QString a = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 8000);
    const QString b = square_file(*fx.dir, QStringLiteral("b.wav"), 2000, 4000);
    struct Case {
        const char* what;
        QWidget* target;
        int slot;
    };
    const Case cases[] = {
        {"waveform box 1", w.PaintBox[0], 0},     {"waveform box 2", w.PaintBox[1], 0},
        {"crest box 2", w.crestpaint[1], 0},      {"information line 1", w.infolabel1, 0},
        {"waveform box 3", w.PaintBox[2], 1},     {"waveform box 4", w.PaintBox[3], 1},
        {"crest box 3", w.crestpaint[2], 1},      {"crest box 4", w.crestpaint[3], 1},
        {"information line 2", w.infolabel2, 1},  {"crest box 1", w.crestpaint[0], 0},
    };
    for (const Case& c : cases) {
        // Every drop changes the slot's file.
        const QString file = fx.filename(c.slot) == a ? b : a;
        const QString other = w.workspace().wav(1 - c.slot)->filename();
        const auto data = urls({QUrl::fromLocalFile(file)});
        const DragResult r = drag_and_drop(c.target, data.get());
        EXPECT_TRUE(r.enter && r.move && r.drop) << c.what;
        ASSERT_TRUE(wait_for([&] { return fx.filename(c.slot) == file; })) << c.what;
        EXPECT_EQ(w.workspace().wav(c.slot)->nsamples(), file == a ? 8000 : 4000) << c.what;
        EXPECT_EQ(fx.filename(1 - c.slot), other) << c.what;
    }

    // Two files together, dropped beside the boxes (on the time axis, which
    // hands the drag on to the window), load into slots 0 and 1 in order.
    const QString c = square_file(*fx.dir, QStringLiteral("c.wav"), 3000, 2000);
    const auto two = urls({QUrl::fromLocalFile(c), QUrl::fromLocalFile(b)});
    ASSERT_NE(fx.filename(1), b);
    const DragResult r = drag_and_drop(w.xaxis, two.get());
    EXPECT_TRUE(r.enter && r.move && r.drop);
    ASSERT_TRUE(wait_for([&] { return fx.filename(0) == c && fx.filename(1) == b; }))
        << boxes.texts.join(", ").toStdString();
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(w.workspace().wav(0)->nsamples(), 2000);
    EXPECT_EQ(w.workspace().wav(1)->nsamples(), 4000);
    EXPECT_EQ(w.RecentFiles1->filename(1), b);
    EXPECT_EQ(w.RecentFiles1->filename(2), c);
}

// The open dialog offers every format read; a FLAC file chosen there, an
// Ogg file dropped on file 2's boxes and a recent-files entry all load like
// WAV files, file 2 at file 1's rate.
TEST(FileLoading, OtherFormatsOpenThroughTheDialogDropsAndRecentFiles) {
    const QStringList filters = TForm19::open_dialog_filters();
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Sound files (*.wav "))) << filters[0].toStdString();
    for (const char* pattern : {"*.flac", "*.ogg", "*.oga", "*.opus", "*.mp3", "*.aif", "*.aiff", "*.aifc", "*.w64",
                                "*.rf64", "*.caf", "*.FLAC", "*.WAV"})
        EXPECT_TRUE(filters[0].split(QRegularExpression(QStringLiteral("[ ()]"))).contains(QLatin1String(pattern)))
            << pattern;
    EXPECT_EQ(filters[1], QStringLiteral("WAV files (*.wav)"));

    MessageBoxes boxes;
    WindowFixture fx;
    TForm19& w = fx.w;
    const QString wav = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 8000, 2);
    const QString flac = fx.dir->filePath(QStringLiteral("a.flac"));
    const QString ogg = fx.dir->filePath(QStringLiteral("b16k.ogg"));
    ASSERT_TRUE(test::sox({wav, flac}));
    ASSERT_TRUE(test::sox({wav, QStringLiteral("-r"), QStringLiteral("16000"), ogg}));

    TForm19::open_dialog_hook = [&](QWidget*) { return flac; };
    w.openaction1->trigger();
    TForm19::open_dialog_hook = nullptr;
    ASSERT_TRUE(wait_for([&] { return fx.filename(0) == flac; })) << boxes.texts.join(", ").toStdString();
    EXPECT_EQ(w.workspace().wav(0)->samples(), read_store(wav)->samples());

    const auto data = urls({QUrl::fromLocalFile(ogg)});
    const DragResult r = drag_and_drop(w.PaintBox[3], data.get());
    EXPECT_TRUE(r.enter && r.move && r.drop);
    ASSERT_TRUE(wait_for([&] { return fx.filename(1) == ogg; })) << boxes.texts.join(", ").toStdString();
    EXPECT_EQ(w.workspace().wav(1)->sampfreq(), 8000);
    EXPECT_NEAR(w.workspace().wav(1)->nsamples(), 8000, 1);
    EXPECT_TRUE(w.infolabel2->text().contains(QStringLiteral("\nb16k.ogg (16000 Hz \u2192 8000 Hz)")))
        << w.infolabel2->text().toStdString();

    // File 2's recent-files list has both; its entry of the FLAC file loads
    // it into file 2.
    ASSERT_EQ(w.RecentFiles2->filename(2), flac);
    w.RecentFiles2->item(2)->trigger();
    ASSERT_TRUE(wait_for([&] { return fx.filename(1) == flac; })) << boxes.texts.join(", ").toStdString();
    EXPECT_EQ(w.workspace().wav(1)->samples(), read_store(wav)->samples());
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(", ").toStdString();
}

// A load that was started while the other slot was empty, and ends after a
// file at another rate came into that slot, is read again for that rate:
// the two slots never end up at two rates.
TEST(FileLoading, LoadIsReadAgainWhenTheOtherSlotGainsAnotherRateMeanwhile) {
    WindowFixture fx;
    TForm19& w = fx.w;
    const QString at8k = square_file(*fx.dir, QStringLiteral("a8k.wav"), 1000, 8000, 2);
    const QString at16k = fx.dir->filePath(QStringLiteral("b16k.flac"));
    ASSERT_TRUE(test::sox({at8k, QStringLiteral("-r"), QStringLiteral("16000"), at16k}));

    // The first reading of b16k.flac is held until file 1 has been loaded.
    QSemaphore release;
    std::atomic<int> readings{0};
    TForm19::load_worker_hook = [&](int, const QString& f) {
        if (f == at16k && readings++ == 0) release.tryAcquire(1, 20000);
    };
    QTimer::singleShot(50, &w, [&] {
        w.load_file(0, at8k);
        release.release();
    });
    w.load_file(1, at16k);
    TForm19::load_worker_hook = {};
    EXPECT_EQ(readings.load(), 2);
    EXPECT_EQ(fx.filename(0), at8k);
    EXPECT_EQ(fx.filename(1), at16k);
    EXPECT_EQ(w.workspace().wav(0)->sampfreq(), 8000);
    EXPECT_EQ(w.workspace().wav(1)->sampfreq(), 8000);
    EXPECT_EQ(w.workspace().wav(1)->nsamples(), 8000);
    EXPECT_EQ(w.workspace().sourcerate(1), 16000);
    EXPECT_TRUE(w.infolabel2->text().contains(QStringLiteral("\nb16k.flac (16000 Hz \u2192 8000 Hz)")))
        << w.infolabel2->text().toStdString();
}

TEST(FileLoading, DragsOfAnythingButLocalFilesAreRefused) {
    WindowFixture fx;
    TForm19& w = fx.w;
    const QString a = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 8000);
    const QUrl local = QUrl::fromLocalFile(a);
    auto text = std::make_unique<QMimeData>();
    text->setText(a);
    struct Case {
        const char* what;
        QWidget* target;
        std::unique_ptr<QMimeData> data;
    };
    Case cases[] = {
        {"web address", w.PaintBox[0], urls({QUrl(QStringLiteral("https://example.org/a.wav"))})},
        {"local file and web address", w.PaintBox[0],
         urls({local, QUrl(QStringLiteral("https://example.org/b.wav"))})},
        {"remote file", w.crestpaint[2], urls({QUrl(QStringLiteral("sftp://host/a.wav"))})},
        {"folder", w.infolabel1, urls({QUrl::fromLocalFile(fx.dir->path())})},
        {"missing file", w.PaintBox[2], urls({QUrl::fromLocalFile(fx.dir->filePath("missing.wav"))})},
        {"three files", w.PaintBox[0], urls({local, local, local})},
        {"plain text", w.PaintBox[0], std::move(text)},
        {"one file beside the boxes", w.xaxis, urls({local})},
        {"one file on the tool bar", w.ToolBar1, urls({local})},
    };
    std::vector<Case*> cases_list;
    for (Case& c : cases) cases_list.push_back(&c);
    std::vector<Case> more;
    for (const test::SpecialFile& f : test::special_files(*fx.dir))
        more.push_back({f.what, w.PaintBox[0], urls({QUrl::fromLocalFile(f.path)})});
    for (Case& c : more) cases_list.push_back(&c);
    for (Case* pc : cases_list) {
        Case& c = *pc;
        const DragResult r = drag_and_drop(c.target, c.data.get());
        EXPECT_FALSE(r.enter) << c.what;
        // A drop that arrives all the same (without enter) is refused too.
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, c.data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(c.target, &drop);
        EXPECT_FALSE(drop.isAccepted()) << c.what;
    }
    QTest::qWait(100);
    EXPECT_EQ(fx.filename(0), QString());
    EXPECT_EQ(fx.filename(1), QString());
}

TEST(FileLoading, CancelledLoadLeavesTheSlotAsItWas) {
    WindowFixture fx;
    TForm19& w = fx.w;
    TWorkspace& ws = w.workspace();
    const QString a = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 8000, 2);
    const QString b = square_file(*fx.dir, QStringLiteral("b.wav"), 2000, 4000);
    const QString c = square_file(*fx.dir, QStringLiteral("c.wav"), 3000, 2000);
    w.load_file(0, a);
    ASSERT_EQ(fx.filename(0), a);
    test::wait_for_loudness(ws);
    ws.setPlaycount(1234);
    const QString line = ws.infoline(0);
    const double rms = ws.filerms(0), factor = ws.filefactor(0);
    const TLevelTable levels = ws.levels(0);

    // The reading of b is held on the worker until the test lets it go.
    QSemaphore release;
    std::atomic<int> held{0};
    TForm19::load_worker_hook = [&](int, const QString& f) {
        if (f != b) return;
        ++held;
        release.tryAcquire(1, 20000);
    };
    int paints = 0;
    w.PaintBox[0]->OnPaint = [&](TPaintBox*, QPainter&) { ++paints; };
    bool refused_same_slot = false, dialog_seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QProgressDialog* p = w.load_progress(0);
        if (!p || !p->isVisible() || held.load() == 0) return;
        poll.stop();
        dialog_seen = true;
        // The window still paints and takes loads into the other slot.
        paints = 0;
        w.PaintBox[0]->update();
        wait_for([&] { return paints > 0; });
        w.load_file(1, c);
        // A second load into the busy slot is refused.
        w.load_file(0, c);
        refused_same_slot = fx.filename(0) == a && w.loading(0);
        QPushButton* cancel = nullptr;
        for (QPushButton* button : p->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Cancel")) cancel = button;
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    poll.start();
    w.load_file(0, b);
    // The worker is still held: the cancel did not wait for it.
    EXPECT_EQ(held.load(), 1);
    release.release();
    TForm19::load_worker_hook = {};
    EXPECT_TRUE(dialog_seen);
    EXPECT_GT(paints, 0);
    EXPECT_TRUE(refused_same_slot);
    EXPECT_FALSE(w.loading(0));
    EXPECT_EQ(w.load_progress(0), nullptr);
    QTest::qWait(200);  // whatever the worker still delivers is dropped

    EXPECT_EQ(fx.filename(0), a);
    EXPECT_EQ(ws.wav(0)->nchans(), 2);
    EXPECT_EQ(ws.wav(0)->nsamples(), 8000);
    EXPECT_EQ(ws.infoline(0), line);
    EXPECT_EQ(w.infolabel1->text(), test::shown_lines(ws, 0));
    EXPECT_EQ(ws.filerms(0), rms);
    EXPECT_EQ(ws.filefactor(0), factor);
    ASSERT_EQ(ws.levels(0).size(), levels.size());
    for (size_t row = 0; row < levels.size(); ++row) EXPECT_EQ(ws.levels(0)[row].size(), levels[row].size());
    // The other slot's load went through meanwhile (and reset the play position).
    EXPECT_EQ(fx.filename(1), c);
    EXPECT_EQ(w.RecentFiles1->filename(1), c);
    EXPECT_EQ(w.RecentFiles1->filename(2), a);  // b never made it into the list
}

TEST(FileLoading, SlowLoadCommitsWhenDoneAndAFailedOneRaisesOnTheGuiThread) {
    WindowFixture fx;
    TForm19& w = fx.w;
    const QString a = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 8000);
    // A name with markup in it shows as it is.
    const QString b = square_file(*fx.dir, QStringLiteral("b <b>slow.wav"), 2000, 4000, 2);
    w.load_file(1, a);

    // Held until the dialog shows, then let go: the load is taken in.
    QSemaphore release;
    TForm19::load_worker_hook = [&](int, const QString&) { release.tryAcquire(1, 20000); };
    QTimer poll;
    poll.setInterval(10);
    QString label;
    Qt::TextFormat format = Qt::AutoText;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (w.load_progress(1) && w.load_progress(1)->isVisible()) {
            poll.stop();
            if (const QLabel* l = w.load_progress(1)->findChild<QLabel*>()) {
                label = l->text();
                format = l->textFormat();
            }
            release.release();
        }
    });
    poll.start();
    w.load_file(1, b);
    TForm19::load_worker_hook = {};
    // The heading, then the stage with its figure (the worker was held
    // before the reading began).
    EXPECT_EQ(label, QStringLiteral("Loading file 2: b <b>slow.wav\nReading: 0%"));
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(fx.filename(1), b);
    EXPECT_EQ(w.workspace().wav(1)->nchans(), 2);
    EXPECT_EQ(w.load_progress(1), nullptr);
    EXPECT_EQ(w.infolabel2->text(), test::shown_lines(w.workspace(), 1));

    const QString notwav = fx.dir->filePath(QStringLiteral("text.wav"));
    {
        QFile f(notwav);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a sound file");
    }
    try {
        w.load_file(1, notwav);
        ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("text.wav"))) << e.message().toStdString();
    }
    EXPECT_FALSE(w.loading(1));
    EXPECT_EQ(fx.filename(1), b);
    EXPECT_EQ(w.workspace().wav(1)->nsamples(), 4000);
}

TEST(FileLoading, WhatIsNotARegularFileIsRefusedAtOnceAndTheSlotKept) {
    WindowFixture fx;
    TForm19& w = fx.w;
    const QString a = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 8000);
    w.load_file(0, a);
    test::wait_for_loudness(w.workspace());
    const QString line = w.workspace().infoline(0);
    const std::vector<test::SpecialFile> special = test::special_files(*fx.dir);
    // A reader blocked on the named pipe is let go after 20 s (a writer
    // comes and goes), so that a fault fails the test instead of hanging it.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the load still waits for the named pipe";
        const int fd = ::open(native_file_name(special[0].path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    for (const test::SpecialFile& f : special) {
        SCOPED_TRACE(f.what);
        watchdog.start(20000);
        try {
            w.load_file(0, f.path);
            ADD_FAILURE() << "not refused";
        } catch (const EFileError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("Cannot open \"%1\": %2").arg(f.path, QLatin1String(f.reason)));
        }
        watchdog.stop();
        EXPECT_EQ(fx.filename(0), a);
        EXPECT_EQ(w.workspace().infoline(0), line);
        EXPECT_EQ(w.RecentFiles1->filename(1), a);
    }
}

TEST(FileLoading, NamesThatAreNotUtf8OpenFromDropsAndTheRecentFilesList) {
    MessageBoxes boxes;
    WindowFixture fx;
    TForm19& w = fx.w;
    const test::BytesNamedFile odd(square_file(*fx.dir, QStringLiteral("odd.wav"), 1000, 8000), "\xFFodd\xE9.wav");
    const QString b = square_file(*fx.dir, QStringLiteral("b.wav"), 2000, 4000);

    // A file manager puts the name's bytes percent-encoded into the address.
    const QByteArray address = "file://" + native_file_name(odd.name).toPercentEncoding("/");
    ASSERT_TRUE(address.contains("%FFodd%E9.wav")) << address.toStdString();
    const auto data = urls({QUrl::fromEncoded(address)});
    const DragResult r = drag_and_drop(w.PaintBox[2], data.get());
    EXPECT_TRUE(r.enter && r.drop);
    ASSERT_TRUE(wait_for([&] { return fx.filename(1) == odd.name; })) << boxes.texts.join(", ").toStdString();
    EXPECT_EQ(w.workspace().wav(1)->nsamples(), 8000);
    EXPECT_EQ(w.RecentFiles2->filename(1), odd.name);

    // Chosen from the recent-files list of file 1 after another file.
    w.load_file(0, b);
    ASSERT_EQ(w.RecentFiles1->filename(2), odd.name);
    w.RecentFiles1->item(2)->trigger();
    EXPECT_EQ(fx.filename(0), odd.name);
    EXPECT_EQ(w.workspace().wav(0)->nsamples(), 8000);
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(", ").toStdString();
}

TEST(FileLoading, MemoryRunningOutOnTheLoaderNamesTheFileAndKeepsTheSlot) {
    WindowFixture fx;
    TForm19& w = fx.w;
    const QString a = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 8000);
    const QString b = square_file(*fx.dir, QStringLiteral("b.wav"), 2000, 4000);
    w.load_file(0, a);
    test::wait_for_loudness(w.workspace());
    const QString line = w.workspace().infoline(0);
    TForm19::load_worker_hook = [&](int, const QString& f) {
        if (f == b) throw std::bad_alloc();
    };
    try {
        w.load_file(0, b);
        ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Cannot read \"%1\": not enough memory to load and measure it").arg(b));
    }
    TForm19::load_worker_hook = {};
    EXPECT_FALSE(w.loading(0));
    EXPECT_EQ(fx.filename(0), a);
    EXPECT_EQ(w.workspace().wav(0)->nsamples(), 8000);
    EXPECT_EQ(w.workspace().infoline(0), line);
    EXPECT_EQ(w.RecentFiles1->filename(1), a);
}

/// Prepares isolated folders for runs of the program: no version check may
/// run while it is tested. Returns a folder for the test's sound files.
QString program_folders(const test::IsolatedFolders& folders) {
    TRegistry reg(RegistryRoot::CurrentUser);
    EXPECT_TRUE(reg.OpenKey(QStringLiteral("\\Software\\OstrelData\\Wavrell"), true));
    reg.WriteInteger(QStringLiteral("AutoCheckForNewVersion"), 0);
    const QString dir = folders.path(QStringLiteral("wav"));
    QDir().mkpath(dir);
    return dir;
}

TEST(FileLoadingProgram, FileNamesThatAreNotUtf8OpenFromTheCommandLine) {
    test::IsolatedFolders folders;
    const QString dir = program_folders(folders);
    const QString made = dir + QStringLiteral("/made.wav");
    ASSERT_TRUE(test::sox_write(made, QByteArray(1600, '\0'), 8000, 1));
    const test::BytesNamedFile odd(made, "a\xFF" "b.wav");
    const QString dump = folders.path(QStringLiteral("menus.txt"));

    // The window writes its menus once the file is loaded, and ends. The
    // name's bytes reach the program only through a shell: a QProcess
    // argument is a text, which cannot hold them.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS"})
        env.insert(QLatin1String(v), qEnvironmentVariable(v));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("WAVRELL_TEST_DUMP_MENUS"), dump);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$1/$(printf 'a\\377b.wav')\""),
                                        QStringLiteral(WAVRELL_BINARY_DIR "/wavrell"), dir});
    // A load that failed would wait in its message box.
    const bool finished = p.waitForFinished(60000);
    EXPECT_TRUE(finished) << "the program did not end";
    if (!finished) {
        p.kill();
        p.waitForFinished();
    }
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QFile f(dump);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray menus = f.readAll();
    EXPECT_TRUE(menus.contains("\t&1 " + native_file_name(odd.name) + "\n")) << menus.toStdString();
}


// The window's load ends with the waveform drawn before the loudness is
// there: the fields show "…", matching by loudness waits (factors 1.0), and
// the blind test, asked for meanwhile, waits with a dialog of its own.
TEST(FileLoading, WaveformBeforeLoudnessAndMatchingAndTheBlindTestWaitForIt) {
    WindowFixture fx;
    TForm19& w = fx.w;
    TWorkspace& ws = w.workspace();
    w.FormActivate();
    w.matchintegratedaction->trigger();
    ASSERT_TRUE(ws.normalize());
    const QString a = square_file(*fx.dir, QStringLiteral("a.wav"), 1000, 16000, 2);
    const QString b = square_file(*fx.dir, QStringLiteral("b.wav"), 8000, 16000, 2);

    QSemaphore release;
    std::atomic<int> held{0};
    TLoudnessJobs::worker_hook = [&](int) {
        ++held;
        release.tryAcquire(1, 20000);
    };
    w.load_file(0, a);
    w.load_file(1, b);
    // Committed and drawn while both measurements are held.
    EXPECT_EQ(ws.wav(1)->nsamples(), 16000);
    const QImage drawn = w.PaintBox[2]->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_FALSE(test::rows_of(drawn, drawn.width() / 2, TForm19::linecolors[2]).empty());
    for (QLabel* l : {w.infolabel1, w.infolabel2})
        EXPECT_TRUE(l->text().contains(QStringLiteral("\u2026 LUFS, LRA \u2026 LU, TP \u2026 dBTP"))) << l->text().toStdString();
    EXPECT_TRUE(ws.loudness_pending(0) && ws.loudness_pending(1));
    EXPECT_EQ(ws.filefactor(0), 1.0);
    EXPECT_EQ(ws.filefactor(1), 1.0);

    QString waiting;
    bool active_while_held = true;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QProgressDialog* p : w.findChildren<QProgressDialog*>()) {
            if (!p->isVisible()) continue;
            poll.stop();
            waiting = p->findChild<QLabel*>()->text();
            active_while_held = w.abx_active();
            release.release(2);
        }
    });
    poll.start();
    w.blindtestaction->trigger();
    TLoudnessJobs::worker_hook = {};
    EXPECT_TRUE(waiting.startsWith(QStringLiteral("Waiting for the loudness of the files\nMeasuring loudness: ")))
        << waiting.toStdString();
    EXPECT_FALSE(active_while_held);
    EXPECT_TRUE(w.abx_active());
    EXPECT_FALSE(ws.loudness_pending(0) || ws.loudness_pending(1));
    // Matched by loudness now: the louder file 2 is turned down.
    ASSERT_TRUE(ws.loudness(0).integrated && ws.loudness(1).integrated);
    EXPECT_NEAR(20 * std::log10(ws.filefactor(1) / ws.filefactor(0)),
                *ws.loudness(0).integrated - *ws.loudness(1).integrated, 1e-9);
    EXPECT_FALSE(w.infolabel2->text().contains(QChar(0x2026)));
}

// A file manager starts "wavrell %F" with every file selected: the first two
// are opened, and the window says which were not.
TEST(FileLoadingProgram, ThreeFilesFromAFileManagerOpenTheFirstTwo) {
    test::IsolatedFolders folders;
    const QString dir = program_folders(folders);
    QStringList files;
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        files << dir + QLatin1Char('/') + QLatin1String(name);
        ASSERT_TRUE(test::sox_write(files.last(), QByteArray(1600, '\0'), 8000, 1));
    }
    const QString dump = folders.path(QStringLiteral("menus.txt"));
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("WAVRELL_TEST_DUMP_MENUS"), dump);
    QByteArray out, err;
    ASSERT_EQ(test::run_with_env(QStringLiteral(WAVRELL_BINARY_DIR "/wavrell"), files, env, &out, &err, 60000), 0)
        << err.toStdString();
    const QString menus = test::read_text(dump);
    // Loaded in order: b on top of the recent files, c nowhere.
    EXPECT_TRUE(menus.contains(QStringLiteral("\t&1 ") + files[1] + QStringLiteral("\n\t&2 ") + files[0] + QLatin1Char('\n')))
        << menus.toStdString();
    EXPECT_FALSE(menus.contains(files[2])) << menus.toStdString();
    EXPECT_TRUE(menus.endsWith(QStringLiteral("Status bar\n\tOnly two files are compared: \"c.wav\" was not opened.\n")))
        << menus.toStdString();

    EXPECT_EQ(files_left_out_text(files.mid(0, 2)), QString());
    EXPECT_EQ(files_left_out_text(files + files),
              QStringLiteral("Only two files are compared: \"c.wav\" and 3 more files were not opened."));
}

}  // namespace
}  // namespace wavrell
