#include "app/main_window.h"
#include "app/info_lines_view.h"
#include "app/loop_levels_view.h"

#include "app/demo_recordings.h"
#include "app/difference_view.h"
#include "app/file_drop.h"
#include "app/paint_box.h"
#include "app/panel.h"
#include "app/sonogram_view.h"
#include "app/peak_target_menu.h"
#include "app/toolbar_icons.h"
#include "app/view_navigation.h"
#include "app/window_geometry.h"
#include "app/window_title.h"
#include "common/message_box.h"
#include "workspace/workspace.h"
#include "audio/sound_file.h"
#include "audio/wav_file.h"
#include "plot/axis.h"
#include "audio/mpc_play.h"
#include "settings/appdata_folders.h"
#include "settings/prog_id.h"
#include "settings/setting.h"
#include "settings/settings_upgrade.h"
#include "shell/about.h"
#include "shell/credits.h"
#include "shell/fjelm_about.h"
#include "shell/help_menu.h"
#include "shell/program_icon.h"
#include "shell/recent_files.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <utility>

namespace wavrell {

namespace {

constexpr int kClientWidth = 721;
constexpr int kClientHeight = 423;
constexpr int kToolBarHeight = 29;
constexpr int kPanel2Width = 193;
constexpr int kYAxisWidth = 41;
constexpr int kXAxisHeight = 30;
constexpr int kCrestLefts[4] = {35, 71, 115, 151};
constexpr int kCrestWidth = 34;

QString default_open_dialog(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(TForm19::open_dialog_filters());
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
    if (const auto* form = dynamic_cast<const TForm19*>(parent); form && !form->open_dialog_folder().isEmpty())
        dialog.setDirectory(form->open_dialog_folder());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

// Keeps a tool button from showing a hint: Qt falls back to the caption
// when an action has no hint of its own.
class TNoHint : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        return event->type() == QEvent::ToolTip || QObject::eventFilter(watched, event);
    }
};

}  // namespace

std::function<QString(QWidget*)> TForm19::open_dialog_hook = default_open_dialog;
std::function<QStringList()> TForm19::demo_recordings_hook = [] { return find_demo_recordings(executable_path()); };

QStringList TForm19::open_dialog_filters() {
    // File systems here tell letter case apart: both spellings are offered.
    QStringList patterns;
    for (const QString& e : sound_file_extensions()) patterns << QStringLiteral("*.") + e;
    for (const QString& e : sound_file_extensions()) patterns << QStringLiteral("*.") + e.toUpper();
    return {QStringLiteral("Sound files (%1)").arg(patterns.join(QLatin1Char(' '))),
            QStringLiteral("WAV files (*.wav)")};
}

TForm19::TForm19(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Wavrell"));
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);

    install_program_icon(this);
    create_actions();
    create_menus();
    create_blind_test();
    create_components();
    create_player();
    create_shell_components();
    create_playback_options();
    differenceview = new TDifferenceView(*this);
    DifferenceMenu = differenceview->menu;
    wire_workspace();
    filedrop = new TFileDrop(this);
    navigation = new TViewNavigation(*this, *xaxis, *ws, *ProgId1);
    navigation->fill_menu(ViewMenu);
    for (TPaintBox* box : PaintBox) navigation->watch(box);
    statusBar()->addWidget(navigation->readout, 1);
    ViewMenu->addSeparator();
    spectrogramview = new TSpectrogramView(*this);
    spectrogramview->add_to_menu(ViewMenu);
    ws->OnSamplesChanging = [this](int slot) {
        spectrogramview->samples_changing(slot);
        if (differenceview) differenceview->samples_changing();
    };
    // The difference lane is a spectrogram too while the lanes are.
    differenceview->paint_instead = [this](QPainter& c) { return spectrogramview && spectrogramview->paint_difference(c); };
    differenceview->changed = [this] { if (spectrogramview) spectrogramview->difference_changed(); };
    mirror_state();

    // The description's size at the first start (the status bar below it);
    // afterwards where the window was when last closed.
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    restore_window_place(*this, *WindowSetting);
}

// The spectrogram workers read the workspace's stores: they end first.
TForm19::~TForm19() { delete std::exchange(spectrogramview, nullptr); }

void TForm19::create_actions() {
    auto make = [this](const QString& caption, bool hint, int image, const QKeySequence& key, bool checkable,
                       void (TForm19::*handler)()) {
        auto* a = new QAction(caption, this);
        if (hint) a->setToolTip(caption); else a->setToolTip(QString());
        if (image >= 0) a->setIcon(toolbar_icon(static_cast<ToolbarImage>(image)));
        if (!key.isEmpty()) a->setShortcut(key);
        a->setCheckable(checkable);
        // A check-able command has toggled its check mark when triggered runs.
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return a;
    };
    openaction1 = make(QStringLiteral("Open file 1..."), true, int(ToolbarImage::OpenFile1), QKeySequence(Qt::CTRL | Qt::Key_F1), false,
                       &TForm19::openaction1Execute);
    Openaction2 = make(QStringLiteral("Open file 2..."), true, int(ToolbarImage::OpenFile2), QKeySequence(Qt::CTRL | Qt::Key_F2), false,
                       &TForm19::Openaction2Execute);
    playaction = make(QStringLiteral("Play"), false, 1, QKeySequence(Qt::Key_F9), true, &TForm19::playactionExecute);
    normalizeaction = make(QStringLiteral("Normalize"), true, 2, QKeySequence(Qt::CTRL | Qt::Key_N), true,
                           &TForm19::normalizeactionExecute);
    showallpassaction = make(QStringLiteral("Show allpassed waveform (fa=500 Hz)"), true, 3,
                             QKeySequence(Qt::CTRL | Qt::Key_A), true, &TForm19::showallpassactionExecute);
    playfile1action = make(QStringLiteral("Play file 1"), true, 4, QKeySequence(Qt::Key_F7), true,
                           &TForm19::playfile1actionExecute);
    playfile2action = make(QStringLiteral("Play file 2"), true, 5, QKeySequence(Qt::Key_F8), true,
                           &TForm19::playfile2actionExecute);
    showerroraction = make(QStringLiteral("Show/play error signal from normalization"), true, -1, QKeySequence(),
                           true, &TForm19::showerroractionExecute);
    // The matching criteria: exactly one is checked.
    matchbygroup = new QActionGroup(this);
    matchbygroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    const std::array<std::pair<QAction**, std::pair<const char*, TMatchBy>>, 3> criteria{{
        {&matchrmsaction, {"RMS", mbrms}},
        {&matchintegratedaction, {"Integrated loudness", mbintegrated}},
        {&matchshorttermaction, {"Maximum short-term loudness", mbshortterm}},
    }};
    for (const auto& [action, what] : criteria) {
        auto* a = new QAction(QString::fromLatin1(what.first), this);
        a->setCheckable(true);
        matchbygroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, v = what.second] { matchbyactionExecute(v); });
        *action = a;
    }
    matchrmsaction->setChecked(true);
    crossfadeaction = make(QStringLiteral("Crossfade switches (5 ms)"), true, -1, QKeySequence(), true,
                           &TForm19::crossfadeactionExecute);
    // Group 1: checking one unchecks the other; both may be up.
    playfilegroup = new QActionGroup(this);
    playfilegroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    playfilegroup->addAction(playfile1action);
    playfilegroup->addAction(playfile2action);
    for (QAction* a : {openaction1, Openaction2, playaction, normalizeaction, showallpassaction, playfile1action,
                       playfile2action, showerroraction, crossfadeaction})
        addAction(a);  // shortcuts work wherever the focus is in the window
}

void TForm19::create_menus() {
    File1Menu = menuBar()->addMenu(QStringLiteral("&File 1"));
    File1Menu->addAction(openaction1);
    Closefile11 = File1Menu->addAction(QStringLiteral("Close file 1"), this, [this] { Closefile11Click(); });
    File1Menu->addSeparator();
    Exit1 = File1Menu->addAction(QStringLiteral("E&xit"), this, [this] { close(); });

    File2Menu = menuBar()->addMenu(QStringLiteral("F&ile 2"));
    File2Menu->addAction(Openaction2);
    Closefile21 = File2Menu->addAction(QStringLiteral("Close file 2"), this, [this] { Closefile21Click(); });

    LevelsMenu = menuBar()->addMenu(QStringLiteral("&Levels"));
    LevelsMenu->addAction(normalizeaction);
    LevelsMenu->addSeparator();
    MatchByMenu = LevelsMenu->addMenu(QStringLiteral("&Match by"));
    MatchByMenu->addActions(matchbygroup->actions());

    ViewMenu = menuBar()->addMenu(QStringLiteral("&View"));  // filled once the view exists

    PlaybackMenu = menuBar()->addMenu(QStringLiteral("&Playback"));
    PlaybackMenu->addAction(playaction);
    PlaybackMenu->addAction(playfile1action);
    PlaybackMenu->addAction(playfile2action);
    PlaybackMenu->addSeparator();
    PlaybackMenu->addAction(crossfadeaction);

    create_alignment_menu();

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->toggleViewAction()->setVisible(false);
    ToolBar1->addAction(openaction1);
    ToolBar1->addAction(Openaction2);
    ToolBar1->addSeparator();
    ToolBar1->addAction(playaction);
    ToolBar1->addAction(playfile1action);
    ToolBar1->addAction(playfile2action);
    ToolBar1->addSeparator();
    ToolBar1->addAction(normalizeaction);
    ToolBar1->addSeparator();
    ToolBar1->addAction(showallpassaction);
    ToolBar1->addAction(showerroraction);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
    // Keys such as Space and the arrows belong to the window, not to a
    // focused tool button.
    for (QToolButton* b : ToolBar1->findChildren<QToolButton*>()) b->setFocusPolicy(Qt::NoFocus);
    // "Play" is the one command without a hint.
    if (QWidget* play = ToolBar1->widgetForAction(playaction)) play->installEventFilter(new TNoHint(play));
}

void TForm19::create_components() {
    auto* client = new QWidget(this);
    auto* row = new QHBoxLayout(client);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    Panel1 = new TPanel(client);
    Panel2 = new TPanel(client);
    Panel2->setFixedWidth(kPanel2Width);
    row->addWidget(Panel1, 1);
    row->addWidget(Panel2, 0);
    setCentralWidget(client);

    // Waveform area.
    infolabel1 = new QLabel(Panel1);
    infolabel2 = new QLabel(Panel1);
    infolines = std::make_unique<TInfoLinesView>(std::array<QLabel*, 2>{infolabel1, infolabel2});
    for (int t = 0; t < 4; ++t) {
        TAxis* ax = new TAxis(Panel1);
        ax->setPosition(posleft);
        ax->setMinLoValue(-3);
        ax->setMaxHiValue(3);
        ax->setMaxLoValue(1e300);
        ax->setMinHiValue(-1e300);
        ax->setMaxValueDifference(1e300);
        ax->set_hilovalues(-2, 2);
        ax->setTickSpaceAim(21);
        ax->setAllowLoScroll(true);
        ax->setAllowHiScroll(true);
        ax->setAllowMidScroll(true);
        ax->setAllowDoubleClick(true);
        ax->setShowTickmarks(false);
        ax->resize(kYAxisWidth, ax->height());
        yaxis[t] = ax;

        auto* box = new TPaintBox(Panel1);
        box->setTag(t);
        PaintBox[t] = box;
    }
    xaxis = new TAxis(Panel1);
    xaxis->setPosition(posunder);
    xaxis->setMinLoValue(-1e300);
    xaxis->setMaxLoValue(1e300);
    xaxis->setMinHiValue(-1e300);
    xaxis->setMaxHiValue(1e300);
    xaxis->setMaxValueDifference(1e300);
    xaxis->set_hilovalues(0, 1);
    xaxis->setTickSpaceAim(50);
    xaxis->setAxisText(QStringLiteral("[s]"));
    xaxis->setAllowLoScroll(true);
    xaxis->setAllowHiScroll(true);
    xaxis->setAllowMidScroll(true);
    xaxis->setAllowDoubleClick(true);
    xaxis->setShowTickmarks(false);
    xaxis->resize(xaxis->width(), kXAxisHeight);

    // Crest factor area.
    crestlabel = new QLabel(QStringLiteral("Short term crest factor"), Panel2);
    crestlabel->move(46, 9);
    crestlabel->adjustSize();
    crestaxis = new TAxis(Panel2);
    crestaxis->setPosition(posleft);
    crestaxis->setMinLoValue(-1e300);
    crestaxis->setMaxLoValue(1e300);
    crestaxis->setMinHiValue(-1e300);
    crestaxis->setMaxHiValue(1e300);
    crestaxis->setMaxValueDifference(1e300);
    crestaxis->set_hilovalues(0, 30);
    crestaxis->setTickSpaceAim(40);
    crestaxis->setAxisText(QStringLiteral("[dB]"));
    crestaxis->setShowTickmarks(false);
    crestaxis->setAllowLoScroll(false);
    crestaxis->setAllowHiScroll(false);
    crestaxis->setAllowMidScroll(false);
    crestaxis->setAllowDoubleClick(false);
    crestaxis->setGeometry(6, crestaxis->y(), 27, crestaxis->height());
    for (int t = 0; t < 4; ++t) {
        auto* box = new TPaintBox(Panel2);
        box->setTag(t);
        box->setGeometry(kCrestLefts[t], 0, kCrestWidth, 10);
        crestpaint[t] = box;
    }

    for (TAxis* ax : {yaxis[0], yaxis[1], yaxis[2], yaxis[3], xaxis, crestaxis}) {
        ax->setFocusPolicy(Qt::NoFocus);
        ax->Loaded();
    }
    Panel1->OnResize = [this] { Panel1Resize(); };
    Panel2->OnResize = [this] { Panel2Resize(); };
}

namespace {
const QString kCopyright = QStringLiteral("Copyright \u00A9 2010-2026 Ostrel Data");
}

void TForm19::create_shell_components() {
    ProgId1 = new TProgId(this);
    ProgId1->setProductName(QStringLiteral("Wavrell"));
    ProgId1->setAutoVersion(false);
    ProgId1->setVersion(QStringLiteral("0.2"));
    ProgId1->setCompany(QStringLiteral("OstrelData"));
    ProgId1->setCopyright(kCopyright);
    // A new version's first start goes on with the settings of the last one.
    adopt_older_settings(*ProgId1);

    WindowSetting = new TSetting(this);
    WindowSetting->setProgId(ProgId1);
    WindowSetting->setLocation(slroaming);

    FjelmAbout1 = new TFjelmAbout(this);
    FjelmAbout1->setTitle(QStringLiteral("Wavrell"));
    FjelmAbout1->setVersion(QStringLiteral("0.2"));
    FjelmAbout1->setCopyright(kCopyright);
    FjelmAbout1->setShowAFjelm(false);
    FjelmAbout1->setShowCompileDate(true);
    FjelmAbout1->setBMP256(true);
    FjelmAbout1->setOSVersions(this_platform);
    FjelmAbout1->setExtra(QStringLiteral("Wavrell is free software under the GNU GPL, version 3 or later"));
    FjelmAbout1->setCredits(program_credits());

    const std::array<std::pair<TRecentFiles**, QMenu*>, 2> lists{{{&RecentFiles1, File1Menu}, {&RecentFiles2, File2Menu}}};
    for (int slot = 0; slot < 2; ++slot) {
        auto* r = new TRecentFiles(this);
        r->setObjectName(slot == 0 ? QStringLiteral("RecentFiles1") : QStringLiteral("RecentFiles2"));
        r->setMaxItems(9);
        r->setMenuPos(2);
        r->setBarBefore(true);
        r->setIncludeClearItem(true);
        r->setClearCaption(QStringLiteral("&Clear list..."));
        r->setAllowFileOnFixed(true);
        r->setAllowFileOnRemote(true);
        r->setAllowFileOnRemovable(false);
        r->setAllowFileOnCDROM(false);
        r->setAllowFileOnRAMDisk(false);
        r->setProgId(ProgId1);
        r->setMenu(lists[size_t(slot)].second);
        r->OnClick = [this, slot](QObject*, int, const QString& fname) { load_file(slot, fname); };
        *lists[size_t(slot)].first = r;
    }

    HelpMenu1 = new THelpMenu(this);
    HelpMenu1->setMainMenu(menuBar());
    HelpMenu1->setAboutBox(FjelmAbout1);
    HelpMenu1->setProgId(ProgId1);
    HelpMenu1->setMenuPos(100);
    HelpMenu1->setEnableVersionCheck(true);
    HelpMenu1->setNewVersionURL(wavrell_version_url);

    LevelSettings = new TSetting(this);
    LevelSettings->setObjectName(QStringLiteral("LevelSettings"));
    LevelSettings->setProgId(ProgId1);

    // Each component finishes its set-up once all settings are applied: the
    // lists read their entries, the Help menu builds itself (and may run the
    // daily version check before the window is shown).
    FjelmAbout1->Loaded();
    RecentFiles1->Loaded();
    RecentFiles2->Loaded();
    HelpMenu1->Loaded();

    demoaction = new QAction(QStringLiteral("Open demo recordings"), this);
    connect(demoaction, &QAction::triggered, this, [this] { open_demo_recordings(); });
    // After the manual, before the version commands and About.
    const QList<QAction*> help = HelpMenu1->menu()->actions();
    HelpMenu1->menu()->insertAction(help.size() > 1 ? help[1] : nullptr, demoaction);
}

void TForm19::open_demo_recordings() {
    const QStringList files = demo_recordings_hook ? demo_recordings_hook() : QStringList();
    if (files.size() < 2) {
        message_box(QStringLiteral("The demo recordings are not installed (they belong in share/wavrell/demo beside "
                                   "the program's folder)."),
                    QStringLiteral("Wavrell"), mb::OK | mb::ICONERROR);
        return;
    }
    load_file(0, files[0]);
    // A cancelled or failed first load ends it there.
    if (ws->wav(0)->nsamples() > 0 && ws->wav(0)->filename() == files[0]) load_file(1, files[1]);
}

QString TForm19::open_dialog_folder() const {
    const QString last = !flastfile.isEmpty() ? flastfile : RecentFiles1 ? RecentFiles1->filename(1) : QString();
    return last.isEmpty() ? QString() : QFileInfo(last).absolutePath();
}

void TForm19::create_player() {
    MPCPlay1 = new TMPCPlay(this);
    MPCPlay1->setNChunkSamples(4096);
    MPCPlay1->setNChans(1);
    MPCPlay1->setSfTot(16000);
    MPCPlay1->setNBuffers(24);
    MPCPlay1->OnStash = [this](std::vector<int16_t>& arr, int32_t& used, bool& last) { MPCPlay1Stash(arr, used, last); };
    MPCPlay1->OnClosed = [this] { MPCPlay1Closed(); };
    MPCPlay1->OnRequeue = [this](int64_t frame) { playtimeline.take_back(frame); };
    // A chunk lasts 46 ms (stereo 44.1 kHz) to 93 ms (mono): the cursor is
    // moved on between chunks, so that it stays within about 10 ms of the
    // frame being heard.
    cursortimer = new QTimer(this);
    cursortimer->setTimerType(Qt::PreciseTimer);
    cursortimer->setInterval(10);
    connect(cursortimer, &QTimer::timeout, this, [this] {
        if (MPCPlay1->OwnBoard()) show_heard_frame(MPCPlay1->StreamFrame());
    });
}

void TForm19::Panel1Resize() {
    // Integer divisions truncate, as the layout has always done. The
    // information lines take the height their wrapped text needs; the left
    // margin stays that of one line.
    const int y1Left = infolabel1->fontMetrics().height() + 4;
    const int yW = yaxis[0]->width();
    const int xLeft = y1Left + yW;
    const int labelW = std::max(0, Panel1->width() - xLeft);
    const int h1 = infolines->place(0, xLeft, 2, labelW);
    const int h2 = infolines->height_for(1, labelW);
    const int y1Top = infolabel1->y() + h1 + 2;
    xaxis->move(xaxis->x(), Panel1->height() - xaxis->height() - infolabel1->y());
    // A window too small for the boxes gives them no height rather than a
    // negative one.
    // The difference's line and lane (a fifth box) go under the files.
    const int labelH = infolabel1->fontMetrics().height();
    const int diffH = differenceview ? differenceview->line_height(labelH, std::max(0, Panel1->width() - xLeft - y1Left)) : 0;
    const int boxes = differenceview && differenceview->lane_shown() ? 5 : 4;
    const int yH = std::max(0, (xaxis->y() - infolabel1->y() - h1 - h2 - 4 - diffH) / boxes);
    yaxis[0]->setGeometry(y1Left, y1Top, yW, yH);
    yaxis[1]->setGeometry(y1Left, y1Top + yH, yW, yH);
    infolines->place(1, xLeft, yaxis[1]->y() + yH + 4, labelW);
    yaxis[2]->setGeometry(y1Left, infolabel2->y() + h2 + 2, yW, yH);
    yaxis[3]->setGeometry(y1Left, yaxis[2]->y() + yH, yW, yH);
    xaxis->setGeometry(xLeft, xaxis->y(), std::max(0, Panel1->width() - xLeft - y1Left), xaxis->height());
    for (int t = 0; t < 4; ++t)
        PaintBox[t]->setGeometry(xaxis->x(), yaxis[t]->y(), xaxis->width(), yaxis[t]->height());
    if (spectrogramview) spectrogramview->layout();
    if (differenceview) differenceview->place(xaxis->x(), yaxis[3]->y() + yH, xaxis->width(), labelH, yH);
    if (ws) invalidate_views(true);
}

void TForm19::Panel2Resize() {
    const int top = crestlabel->y() + crestlabel->height() + 2;
    const int h = std::max(0, Panel2->height() - top - crestlabel->y());
    crestaxis->setGeometry(crestaxis->x(), top, crestaxis->width(), h);
    for (TPaintBox* box : crestpaint) box->setGeometry(box->x(), top, box->width(), h);
}

bool TForm19::event(QEvent* e) {
    const bool result = QMainWindow::event(e);
    // The start-up state (normalization on, play file commands off) must
    // not wait for a window manager that leaves a new window inactive: the
    // first showing counts as the first activation.
    if (e->type() == QEvent::WindowActivate || (e->type() == QEvent::Show && isWindow())) FormActivate();
    // The boxes' cached pictures are drawn in the palette's colours.
    if (e->type() == QEvent::PaletteChange && ws) invalidate_views(true);
    return result;
}

void TForm19::closeEvent(QCloseEvent* event) {
    save_window_place(*this, *WindowSetting);
    QMainWindow::closeEvent(event);
}

void TForm19::keyPressEvent(QKeyEvent* event) {
    FormKeyDown(event->key(), event->modifiers());
}

void TForm19::FormActivate() {
    if (activated) return;
    activated = true;
    ws->setNormalize(true);
    ws->setWavplayno(1);
    playfile1action->setEnabled(false);
    playfile2action->setEnabled(false);
}

void TForm19::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
    const double c = ws->cursorpos();
    const double lo = xaxis->LoValue(), hi = xaxis->HiValue();
    switch (key) {
        case Qt::Key_Escape:
            stop_playback();
            break;
        case Qt::Key_Space:
            // In the blind test Space goes from A to B and back; while X
            // plays it does nothing, since where it led would tell X.
            if (abx_active()) {
                if (abxsource() == 0 || abxsource() == 1) abx_play(1 - abxsource());
                break;
            }
            // From the difference Space goes back to the file it replaced.
            switch_playback(differenceview->playing() ? ws->wavplayno() : ws->wavplayno() == 0 ? 1 : 0);
            break;
        case Qt::Key_BracketLeft:
            setLoop(c, std::max(c, loophi()));
            break;
        case Qt::Key_BracketRight:
            setLoop(std::min(looplo(), c), c);
            break;
        case Qt::Key_Home:
            ws->setCursorpos(lo);
            break;
        case Qt::Key_End:
            ws->setCursorpos(hi);
            break;
        case Qt::Key_Left:
        case Qt::Key_Right: {
            const int d = (shift & Qt::AltModifier) ? 10 : 1;
            const int step = key == Qt::Key_Left ? -d : d;
            ws->setCursorpos(xaxis->pixel_to_value(xaxis->value_to_pixel(c) + step));
            break;
        }
        case Qt::Key_Up:
            if (lo <= c && c <= hi) {
                xaxis->setLoValue(lo - (c - lo) / 9);
                xaxis->setHiValue(hi + (hi - c) / 9);
            }
            break;
        case Qt::Key_Down:
            if (lo <= c && c <= hi) {
                xaxis->setLoValue(lo + (c - lo) / 10);
                xaxis->setHiValue(hi - (hi - c) / 10);
            }
            break;
        default:
            break;
    }
}

void TForm19::wire_workspace() {
    ws = new TWorkspace(this);
    ws->OnInvalidateViews = [this](bool dirty) { invalidate_views(dirty); };
    ws->OnResetTimeAxis = [this] { reset_time_axis(); };
    ws->OnChecksChanged = [this] { mirror_state(); };
    ws->OnInfoLinesChanged = [this] { mirror_state(); };
    ws->OnAlignmentChanged = [this] { alignment_changed(); };
    ws->OnLoudnessFailed = [this](int, const QString& reason) { statusBar()->showMessage(reason); };
    // Match peak to belongs beside Match by, before the loop range's item
    // (and needs the workspace made just above).
    peakmenu = new TPeakTargetMenu(LevelsMenu, *ws, *LevelSettings);
    looplevels = new TLoopLevelsView(LevelsMenu, *ws, [this](int slot) { return loop_frames_of(slot); });
    looplevels->OnChanged = [this] { show_info_lines(); };
    ws->OnRangeLevelsReady = [this](int) { show_info_lines(); };
    ws->OnAddToRecentFiles = [this](const QString& fname) {
        flastfile = fname;
        RecentFiles1->add(fname);
        RecentFiles2->add(fname);
    };
    ws->OnErrorSummariesReady = [this](int slot) {
        for (int t : {2 * slot, 2 * slot + 1}) {
            bmpdirty[size_t(t)] = true;
            PaintBox[size_t(t)]->update();
        }
    };
    apfilter = ws->apfilter();
    // The window shows each file's loudness and may match by it.
    ws->setMeasureLoudness(true);
    read_level_settings();

    for (int t = 0; t < 4; ++t) {
        PaintBox[t]->OnPaint = [this](TPaintBox* b, QPainter& p) { PaintBox1Paint(b, p); };
        PaintBox[t]->OnMouseDown = [this](TPaintBox* b, Qt::MouseButton btn, Qt::KeyboardModifiers m, int x, int y) {
            PaintBox1MouseDown(b, btn, m, x, y);
        };
        PaintBox[t]->OnMouseMove = [this](TPaintBox* b, Qt::MouseButtons btn, Qt::KeyboardModifiers m, int x, int y) {
            PaintBox1MouseMove(b, btn, m, x, y);
        };
        crestpaint[t]->OnPaint = [this](TPaintBox* b, QPainter& p) { crestpaint1Paint(b, p); };
        crestpaint[t]->OnClick = [this](TPaintBox* b) { crestpaint1Click(b); };
        yaxis[t]->OnScaleChanged = [this, t](TAxis*) { yaxisScaleChanged(t); };
    }
    xaxis->OnScaleChanged = [this](TAxis*) { xaxisScaleChanged(); };
}

void TForm19::mirror_state() {
    // The commands show the workspace's modes in their check marks.
    normalizeaction->setChecked(ws->normalize());
    showallpassaction->setChecked(ws->showallpass());
    showerroraction->setChecked(ws->showerror());
    // While the blind test plays X, neither check may tell which file it is.
    playfile1action->setChecked(shown_playno() == 0);
    playfile2action->setChecked(shown_playno() == 1);
    matchrmsaction->setChecked(ws->MatchBy() == mbrms);
    matchintegratedaction->setChecked(ws->MatchBy() == mbintegrated);
    matchshorttermaction->setChecked(ws->MatchBy() == mbshortterm);
    show_info_lines();
    const auto name = [this](int s) { return ws->wav(s)->nsamples() > 0 ? ws->wav(s)->filename() : QString(); };
    setWindowTitle(window_title(name(0), name(1)));
    // The blind test's conditions (files, level matching and its criterion,
    // alignment and polarity) stay as they were when it started.
    const bool free = !abx_active();
    for (QAction* a : {normalizeaction, openaction1, Openaction2, Closefile11, Closefile21, matchrmsaction,
                       matchintegratedaction, matchshorttermaction})
        a->setEnabled(free);
    if (peakmenu) peakmenu->mirror(free);
    // Alignment needs two files; the polarity only for a file 2 found
    // inverted.
    const bool pair = ws->wav(0)->nsamples() > 0 && ws->wav(1)->nsamples() > 0;
    for (QAction* a : {alignaction, nudgeearlieraction, nudgelateraction, nudgeearliermsaction, nudgelatermsaction,
                       noalignmentaction})
        a->setEnabled(pair && free);
    const auto& estimate = ws->alignestimate();
    correctpolarityaction->setEnabled(pair && free && estimate && estimate->aligned() && estimate->inverted);
    correctpolarityaction->setChecked(ws->correctpolarity());
    if (differenceview) differenceview->files_changed();
}

void TForm19::show_info_lines() {
    const int width = infolabel1->width();
    const std::array<int, 2> before{infolines->height_for(0, width), infolines->height_for(1, width)};
    for (int s = 0; s < 2; ++s)
        infolines->set_lines(s, ws->info_levels(s), ws->info_name(s), ws->info_notes(s),
                             looplevels ? looplevels->lines(s) : QStringList());
    // Lines that now wrap differently move the boxes below them.
    if (before != std::array<int, 2>{infolines->height_for(0, width), infolines->height_for(1, width)})
        Panel1Resize();
}

TLoopRange TForm19::loop_frames_of(int slot) const {
    TLoopRange r = loop_frames(ws->wav(slot)->sampfreq());
    if (!r.active()) return r;
    r.from = std::max<int64_t>(0, r.from + ws->slot_offset(slot));
    r.to = std::max<int64_t>(r.from, r.to + ws->slot_offset(slot));
    return r;
}

void TForm19::open_into(int slot) {
    const QString name = open_dialog_hook ? open_dialog_hook(this) : QString();
    if (name.isEmpty()) return;
    load_file(slot, name);
}

void TForm19::openaction1Execute() { open_into(0); }
void TForm19::Openaction2Execute() { open_into(1); }
void TForm19::normalizeactionExecute() { ws->setNormalize(normalizeaction->isChecked()); }
void TForm19::showallpassactionExecute() { ws->setShowallpass(showallpassaction->isChecked()); }
void TForm19::showerroractionExecute() { ws->setShowerror(showerroraction->isChecked()); }
void TForm19::playfile1actionExecute() {
    if (abx_active()) return abx_play(0);
    switch_playback(0);
}
void TForm19::playfile2actionExecute() {
    if (abx_active()) return abx_play(1);
    switch_playback(1);
}
void TForm19::Closefile11Click() { ws->close_file(0); }
void TForm19::Closefile21Click() { ws->close_file(1); }

void TForm19::matchbyactionExecute(TMatchBy v) {
    ws->setMatchBy(v);
    write_level_settings();
}

namespace {
const QString kLevelsSection = QStringLiteral("Levels");
const QString kMatchByKey = QStringLiteral("MatchBy");
}  // namespace

void TForm19::read_level_settings() {
    // Errors of the store and unknown values leave the default, RMS.
    TMatchBy v = mbrms;
    try {
        LevelSettings->setLocation(slroaming);
        v = match_by_from_key(LevelSettings->ReadString(kLevelsSection, kMatchByKey, match_by_key(mbrms)))
                .value_or(mbrms);
    } catch (const Exception&) {
    }
    if (v != ws->MatchBy()) ws->setMatchBy(v);
}

void TForm19::write_level_settings() {
    // A store that cannot be written keeps the choice for this run only.
    try {
        LevelSettings->setLocation(slroaming);
        LevelSettings->WriteString(kLevelsSection, kMatchByKey, match_by_key(ws->MatchBy()));
    } catch (const Exception&) {
    }
}


}  // namespace wavrell
