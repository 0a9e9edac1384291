// The blind ABX test in the window: the "Test" menu, the panel, the keys
// A, B, X (what is heard) and 1, 2 (the answer), the log, and the loop range
// of playback that a listener repeats while comparing.
#include "app/main_window.h"
#include "app/load_progress_dialog.h"

#include "app/abx_panel.h"
#include "app/paint_box.h"
#include "workspace/abx_log.h"
#include "workspace/abx_test.h"
#include "workspace/workspace.h"
#include "audio/mpc_play.h"
#include "audio/pulse_device.h"
#include "audio/wav_file.h"
#include "common/message_box.h"
#include "plot/axis.h"
#include "settings/prog_id.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>

#include <cmath>
#include <limits>
#include <optional>

namespace wavrell {

namespace {

const QString kCaption = QStringLiteral("Blind test");

QString default_save_log_dialog(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save log"), suggested,
                                        QStringLiteral("Text files (*.txt)"));
}

double decibels(double factor) { return factor > 0 ? 20.0 * std::log10(factor) : 0.0; }

}  // namespace

std::function<int()> TForm19::abx_pick_hook;
std::function<QString(QWidget*, const QString&)> TForm19::save_log_dialog_hook = default_save_log_dialog;

void TForm19::create_blind_test() {
    fabx = std::make_unique<TAbxTest>([] { return abx_pick_hook ? abx_pick_hook() : TAbxTest::system_pick(); });
    blindtestaction = new QAction(QStringLiteral("Blind test..."), this);
    blindtestaction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(blindtestaction, &QAction::triggered, this, [this] { blindtestactionExecute(); });
    addAction(blindtestaction);
    // "Test" sits before the Help menu, which the Help component appends
    // last when it is loaded.
    TestMenu = new QMenu(QStringLiteral("&Test"), this);
    menuBar()->addMenu(TestMenu);
    TestMenu->addAction(blindtestaction);

    auto make = [this](const QString& caption, const QString& hint, Qt::Key key, auto handler) {
        auto* a = new QAction(caption, this);
        a->setToolTip(hint);
        a->setShortcut(QKeySequence(key));
        a->setEnabled(false);
        connect(a, &QAction::triggered, this, handler);
        addAction(a);  // the keys work wherever the focus is in the window
        return a;
    };
    abxplayA = make(QStringLiteral("A"), QStringLiteral("Play A (file 1) from the cursor (key A)"), Qt::Key_A,
                    [this] { abx_play(0); });
    abxplayB = make(QStringLiteral("B"), QStringLiteral("Play B (file 2) from the cursor (key B)"), Qt::Key_B,
                    [this] { abx_play(1); });
    abxplayX = make(QStringLiteral("X"), QStringLiteral("Play X (A or B, unknown) from the cursor (key X)"), Qt::Key_X,
                    [this] { abx_play(2); });
    abxanswerA = make(QStringLiteral("X is A"), QStringLiteral("Answer: X is A (key 1)"), Qt::Key_1,
                      [this] { abx_answer(0); });
    abxanswerB = make(QStringLiteral("X is B"), QStringLiteral("Answer: X is B (key 2)"), Qt::Key_2,
                      [this] { abx_answer(1); });
}

bool TForm19::abx_active() const { return abxpanel && abxpanel->isVisible() && fabx->running(); }

int TForm19::shown_playno() const { return abx_active() && fabxsource == 2 ? -1 : ws->wavplayno(); }

TForm19::TAbxMatching TForm19::abx_matching() const {
    TAbxMatching m;
    // Named as the Levels menu's "Match by" names it.
    static const QString criteria[3] = {QStringLiteral("RMS"), QStringLiteral("Integrated loudness"),
                                        QStringLiteral("Maximum short-term loudness")};
    m.criterion = criteria[int(ws->MatchBy())];
    m.matching = ws->normalize();
    m.factordb = {decibels(ws->filefactor(0)), decibels(ws->filefactor(1))};
    // The files' own levels by that criterion (RMS in dBFS, loudness in
    // LUFS: a difference in dB either way); a file without such a level
    // takes no part in the matching, and no difference can be told.
    const std::optional<double> a = ws->match_level_db(0), b = ws->match_level_db(1);
    if (a && b) m.differencedb = *b - *a;
    return m;
}

void TForm19::abx_alignment(TAbxConditions& into) const {
    // File 2 as it is heard: shifted by the offset in force, and negated
    // when an inversion found by the estimate is corrected.
    into.offsetframes = ws->file2offset();
    const int32_t fs = ws->wav(1)->sampfreq();
    into.offsetms = fs > 0 ? double(into.offsetframes) * 1000.0 / fs : 0.0;
    const auto& estimate = ws->alignestimate();
    const bool inverted = estimate && estimate->aligned() && estimate->inverted;
    into.polarity = !inverted                  ? TAbxPolarity::normal
                    : ws->file2negated()       ? TAbxPolarity::corrected
                                               : TAbxPolarity::inverted;
}

void TForm19::blindtestactionExecute() {
    if (abx_active()) {
        abxpanel->raise();
        return;
    }
    start_blind_test();
}

bool TForm19::start_blind_test() {
    if (ws->wav(0)->nsamples() == 0 || ws->wav(1)->nsamples() == 0) {
        message_box(QStringLiteral("The blind test compares file 1 with file 2: open both files first."), kCaption,
                    mb::OK | mb::ICONINFORMATION);
        return false;
    }
    // The matching and the log take the files' loudness: the test waits
    // for a measurement still running.
    if (!wait_for_loudness(this, *ws) || ws->wav(0)->nsamples() == 0 || ws->wav(1)->nsamples() == 0) return false;
    const TAbxMatching m = abx_matching();
    if (!m.matching && std::abs(m.differencedb) > 0.2) {
        const QString text =
            QStringLiteral("Level matching is off, and the files differ by %1 dB by %2.\r"
                           "A difference in level alone is easy to hear and tells A from B.\r\r"
                           "Start the test anyway?")
                .arg(QString::number(std::abs(m.differencedb), 'f', 1).replace(QLatin1Char('.'), QLocale().decimalPoint()),
                     m.criterion);
        if (message_box(text, kCaption, mb::YESNO | mb::ICONEXCLAMATION) != mb::IDYES) return false;
    }
    if (!abxpanel) {
        QAction* const play[3] = {abxplayA, abxplayB, abxplayX};
        QAction* const answer[2] = {abxanswerA, abxanswerB};
        abxpanel = new TAbxPanel(this, *fabx, play, answer);
        addDockWidget(Qt::BottomDockWidgetArea, abxpanel);
        connect(abxpanel->newtest, &QPushButton::clicked, this, [this] { start_blind_test(); });
        connect(abxpanel->savelog, &QPushButton::clicked, this, [this] { abx_save_log(); });
        connect(abxpanel->endtest, &QPushButton::clicked, this, [this] { abx_end_test(); });
        // Once the count is typed, the digits 1 and 2 answer again.
        connect(abxpanel->trialsbox, &QSpinBox::editingFinished, this, [this] { setFocus(); });
    }
    // Whatever was heard before the test says nothing about its first X.
    abx_stop();
    fabxsource = -1;
    // Every trial starts here: at the loop's start, else at the cursor.
    fabxstart = floop[1] > floop[0] ? floop[0] : ws->cursorpos();
    ws->setCursorpos(fabxstart);
    fabx->start(abxpanel->trialsbox->value());
    start_file_facts();
    abxpanel->show();
    abx_show_state();
    setFocus();
    return true;
}

void TForm19::start_file_facts() {
    // The files were hashed as they were loaded: the log names the bytes
    // heard, whatever lies under their paths now.
    std::promise<std::array<TAbxFileFacts, 2>> facts;
    facts.set_value({ws->file_facts(0), ws->file_facts(1)});
    fabxfacts = facts.get_future().share();
}

void TForm19::abx_show_state() {
    const bool active = abx_active();
    // "Play" alone plays the file chosen last, which is then what is heard.
    if (active && playing() && fabxsource < 0) fabxsource = ws->wavplayno();
    for (QAction* a : {abxplayA, abxplayB, abxplayX, abxanswerA, abxanswerB}) a->setEnabled(active);
    if (abxpanel) {
        static const QString names[3] = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("X")};
        abxpanel->show_state(active && playing() && fabxsource >= 0 ? names[fabxsource] : QString());
    }
    mirror_state();
    invalidate_views(false);
}

void TForm19::abx_play(int source) {
    if (!abx_active()) return;
    const int slot = source == 2 ? fabx->x() : source;
    if (source != fabxsource || !playing()) fabx->note_switch();
    fabxsource = source;
    switch_playback(slot);  // heard at once while playing
    if (!MPCPlay1->OwnBoard()) {
        // Stopped (by Escape, perhaps with its close notice still on the
        // way): playback starts again from the cursor, where the listener
        // put it or where playback was heard when it stopped.
        playaction->setChecked(false);
        const double fs = ws->wav(slot)->sampfreq();
        const double frame = std::nearbyint(fs * ws->cursorpos());
        ws->setPlaycount(std::isnan(frame) ? 0 : int32_t(std::clamp(frame, 0.0, double(INT32_MAX))));
        playaction->trigger();
    }
    abx_show_state();
}

void TForm19::abx_answer(int said) {
    if (!abx_active()) return;
    // The next trial has an X of its own: playback stops, so that no switch
    // at the answer can tell whether X changed, and the next trial starts
    // where every trial starts (so none plays silence past the end).
    abx_stop();
    fabxsource = -1;
    // The "Play file" checks come back: they show file 1, not the answered
    // trial's X.
    ws->setWavplayno(0);
    ws->setCursorpos(fabxstart);
    const bool last = fabx->answer(said);
    abx_show_state();
    if (!last) return;
    abx_stop();
    fabxsource = -1;
    abx_show_state();
    QString where;
    try {
        lastabxlog = write_abx_log_now();
        where = QStringLiteral("The log is in \"%1\".").arg(QDir::toNativeSeparators(lastabxlog));
    } catch (const Exception& e) {
        where = e.message();
    }
    QString score = fabx->score_text().replace(QLatin1Char('.'), QLocale().decimalPoint());
    const auto [lo, hi] = TAbxTest::confidence_interval(fabx->done(), fabx->correct());
    QString interval = QStringLiteral("95 % confidence interval of the hit rate: %1 to %2")
                           .arg(QString::asprintf("%.3f", lo), QString::asprintf("%.3f", hi))
                           .replace(QLatin1Char('.'), QLocale().decimalPoint());
    message_box(QStringLiteral("The blind test is finished.\r\r%1\r(p: the probability of at least this many correct "
                               "answers by guessing)\r%2\r\r%3")
                    .arg(score, interval, where),
                kCaption, mb::OK | mb::ICONINFORMATION);
}

void TForm19::abx_stop() {
    // As "Play" stops: the check mark goes at once, not with the close notice.
    if (playaction->isChecked()) playaction->trigger();
}

void TForm19::abx_end_test() {
    if (abxpanel) abxpanel->hide();
    fabxsource = -1;
    abx_show_state();
}

TAbxLogHeader TForm19::abx_log_header() {
    TAbxLogHeader h;
    h.program = ProgId1->ProductName() + QLatin1Char(' ') + ProgId1->Version();
    h.when = QDateTime::currentDateTime();
    if (fabxfacts.valid()) h.files = fabxfacts.get();
    for (int s = 0; s < 2; ++s) {
        TAbxFileFacts& f = h.files[size_t(s)];
        if (f.path.isEmpty()) f.path = ws->wav(s)->filename();
        if (f.size < 0 && f.error.isEmpty()) f.error = QStringLiteral("not hashed when it was loaded");
        f.rate = ws->wav(s)->sampfreq();
        f.sourcerate = ws->sourcerate(s);
    }
    const TAbxMatching m = abx_matching();
    h.conditions.criterion = m.criterion;
    h.conditions.matching = m.matching;
    h.conditions.factordb = m.factordb;
    abx_alignment(h.conditions);
    QString defaultDevice;
    h.server = TWaveOutDevice::serverName(&defaultDevice);
    h.device = TWaveOutDevice::lastDeviceName();
    if (h.device.isEmpty()) h.device = defaultDevice;
    h.transition = abx_transition_text();
    return h;
}

QString TForm19::write_abx_log_now(const QString& path) {
    const TAbxLogHeader h = abx_log_header();
    const QByteArray text = abx_log_text(h, *fabx);
    if (path.isEmpty()) return write_abx_log(text, h.when, abx_log_folder());
    write_abx_log_to(text, path);
    return path;
}

void TForm19::abx_save_log() {
    if (!fabx->started()) return;
    const QString folder = abx_log_folder();
    if (!folder.isEmpty()) QDir().mkpath(folder);
    const QString suggested = QDir(folder).filePath(abx_log_file_name(QDateTime::currentDateTime()));
    const QString path = save_log_dialog_hook ? save_log_dialog_hook(this, suggested) : QString();
    if (path.isEmpty()) return;
    write_abx_log_now(path);
}

void TForm19::setLoop(double lo, double hi) {
    floop = {lo, hi};
    invalidate_views(false);
    show_info_lines();
}

TLoopRange TForm19::loop_frames(double fs) const {
    if (!(floop[1] > floop[0])) return {};
    const double lo = std::max(0.0, std::nearbyint(floop[0] * fs)), hi = std::nearbyint(floop[1] * fs);
    if (!(hi > lo) || hi > double(INT32_MAX)) return {};
    return {int64_t(lo), int64_t(hi)};
}

}  // namespace wavrell
