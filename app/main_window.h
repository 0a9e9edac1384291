#pragma once

#include "app/waveform_trace.h"
#include "workspace/abx_log.h"
#include "workspace/level_matching.h"
#include "workspace/play_timeline.h"
#include "workspace/loop_range.h"

#include <QImage>
#include <QMainWindow>
#include <QStringList>

#include <array>
#include <functional>
#include <future>
#include <memory>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QProgressDialog;
class QTimer;
class QToolBar;

namespace wavrell {

class TAbxPanel;
class TAbxTest;
class TAxis;
class TInfoLinesView;
class TLoopLevelsView;
class TDifferenceView;
class TFileDrop;
class TFjelmAbout;
class THelpMenu;
class TMPCPlay;
class TRecentFiles;
class TPaintBox;
class TPanel;
class TPeakTargetMenu;
class TViewNavigation;
class TProgId;
class TRealFilterSection;
class TSetting;
class TSpectrogramView;
class TWorkspace;

/// The program's only window: tool bar, menus, the four waveform boxes with
/// their axes on the left (Panel1), the four crest factor bars on the right
/// (Panel2). It owns the workspace (the two files, their levels and the
/// play state) and shows it; the command handlers call the workspace.
/// GUI thread.
class TForm19 : public QMainWindow {
public:
    explicit TForm19(QWidget* parent = nullptr);
    ~TForm19() override;

    TWorkspace& workspace() { return *ws; }

    /// The file dialog of "Open file 1..." / "Open file 2...": returns the
    /// chosen file or an empty text when cancelled. Replaceable (tests).
    static std::function<QString(QWidget* parent)> open_dialog_hook;
    /// The name filters of that dialog: "Sound files" with every extension
    /// of the formats the program reads (chosen first), then "WAV files".
    static QStringList open_dialog_filters();

    // Components, named as in the window description.
    QToolBar* ToolBar1 = nullptr;
    TPanel* Panel1 = nullptr;
    TPanel* Panel2 = nullptr;
    std::array<TPaintBox*, 4> PaintBox{};
    std::array<TAxis*, 4> yaxis{};
    TAxis* xaxis = nullptr;
    QLabel* infolabel1 = nullptr;
    QLabel* infolabel2 = nullptr;
    /// The layout and text of infolabel1 and infolabel2.
    std::unique_ptr<TInfoLinesView> infolines;
    /// "Loop range measurements" (Levels menu) and the lines it adds.
    TLoopLevelsView* looplevels = nullptr;
    QLabel* crestlabel = nullptr;
    TAxis* crestaxis = nullptr;
    std::array<TPaintBox*, 4> crestpaint{};
    TProgId* ProgId1 = nullptr;
    TRecentFiles* RecentFiles1 = nullptr;
    TRecentFiles* RecentFiles2 = nullptr;
    TFjelmAbout* FjelmAbout1 = nullptr;
    THelpMenu* HelpMenu1 = nullptr;
    TMPCPlay* MPCPlay1 = nullptr;
    /// Keeps the window's size, place and maximized state between runs
    /// (roaming ini file of the program identity, section "MainWindow").
    TSetting* WindowSetting = nullptr;

    QMenu* File1Menu = nullptr;
    QMenu* File2Menu = nullptr;
    QAction* Closefile11 = nullptr;
    QAction* Closefile21 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* PlaybackMenu = nullptr;

    /// "Levels" menu: "Match by" with the three matching criteria, one
    /// checked (an exclusive group).
    QMenu* LevelsMenu = nullptr;
    QMenu* MatchByMenu = nullptr;
    QAction* matchrmsaction = nullptr;
    QAction* matchintegratedaction = nullptr;
    QAction* matchshorttermaction = nullptr;
    QActionGroup* matchbygroup = nullptr;
    TPeakTargetMenu* peakmenu = nullptr;  ///< "Match peak to"
    /// "View": zoom, loop and time commands (app/view_navigation.h).
    QMenu* ViewMenu = nullptr;
    TViewNavigation* navigation = nullptr;
    /// Help, "Open demo recordings": loads the two demo recordings as file
    /// 1 and file 2.
    QAction* demoaction = nullptr;
    /// Where the demo recordings are (replaceable in tests); empty when
    /// they are not installed.
    static std::function<QStringList()> demo_recordings_hook;
    /// The folder the open dialog starts in: that of the file last opened
    /// (also in an earlier run, from the recent files), else empty.
    QString open_dialog_folder() const;
    /// The spectrograms of the lanes, their "View" commands and the
    /// spectrum panel (app/sonogram_view.h).
    TSpectrogramView* spectrogramview = nullptr;
    /// Keeps the matching criterion (section "Levels", key "MatchBy": "rms",
    /// "lufs" or "shortterm") at the roaming location of ProgId1, written
    /// on every choice and read when the window is created.
    TSetting* LevelSettings = nullptr;

    QAction* openaction1 = nullptr;
    QAction* Openaction2 = nullptr;
    QAction* playaction = nullptr;
    QAction* normalizeaction = nullptr;
    QAction* showallpassaction = nullptr;
    QAction* playfile1action = nullptr;
    QAction* playfile2action = nullptr;
    QAction* showerroraction = nullptr;
    /// "Crossfade switches (5 ms)": remembered in the settings (section
    /// "Playback", key "CrossfadeSwitches"), off by default.
    QAction* crossfadeaction = nullptr;
    QActionGroup* playfilegroup = nullptr;

    // The "Alignment" menu: file 2 lined up with file 1.
    QMenu* AlignmentMenu = nullptr;
    QAction* alignaction = nullptr;            ///< "Align file 2 to file 1", Ctrl+L
    QAction* nudgeearlieraction = nullptr;     ///< one sample earlier, Alt+,
    QAction* nudgelateraction = nullptr;       ///< one sample later, Alt+.
    QAction* nudgeearliermsaction = nullptr;   ///< one millisecond earlier, Alt+Shift+,
    QAction* nudgelatermsaction = nullptr;     ///< one millisecond later, Alt+Shift+.
    QAction* correctpolarityaction = nullptr;  ///< "Correct polarity", check-able
    QAction* noalignmentaction = nullptr;      ///< "No alignment"

    /// The null test: the "Difference" menu, lane, line and playback.
    QMenu* DifferenceMenu = nullptr;
    TDifferenceView* differenceview = nullptr;

    /// Plays `slot` (0 or 1) from now on; ignored for a slot without
    /// samples. The one call of every command that switches files (Space,
    /// "Play file 1/2", clicks into the other file's boxes). While playing,
    /// the sound queued but not yet heard is made again from the other file,
    /// from the frame that would have been heard next, so the switch is
    /// heard within the sound server's short buffer and the time line goes
    /// on without a frame lost or repeated; the seam is logged ("Switched to
    /// file 2 at frame k", category wavrell.playback).
    void switch_playback(int slot);

    /// Layout of the waveform area and of the crest factor area; run on
    /// every size change of the panels.
    void Panel1Resize();
    void Panel2Resize();

    /// The steps of the first activation (only once).
    void FormActivate();
    bool activated = false;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    /// Stores the window's place for the next start.
    void closeEvent(QCloseEvent* event) override;

public:
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);

    /// Repaints the eight view boxes; with dirty also redraws the cached
    /// waveform pictures.
    void invalidate_views(bool dirty);
    /// Fits the time axis to the longer file (at least 1 s).
    void reset_time_axis();
    /// Playback is on (the "Play" command is checked).
    bool playing() const;

    /// Trace colours of the four boxes (waveform and crest bars alike).
    static const std::array<QColor, 4> linecolors;
    std::array<QImage, 4> bmp;
    std::array<bool, 4> bmpdirty{true, true, true, true};
    TRealFilterSection* apfilter = nullptr;

    // View handlers.
    void PaintBox1Paint(TPaintBox* sender, QPainter& canvas);
    void PaintBox1MouseDown(TPaintBox* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void PaintBox1MouseMove(TPaintBox* sender, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    void crestpaint1Paint(TPaintBox* sender, QPainter& canvas);
    void crestpaint1Click(TPaintBox* sender);
    void xaxisScaleChanged();
    void yaxisScaleChanged(int t);

    enum class TraceKind { Main, Allpass, Error };
    /// The range query of one trace of box t: from the file's range
    /// summaries, or by a pass over the samples when use_range_summaries is
    /// off (both draw the same pixels). The error trace comes from the
    /// slot's error summaries, one draw of the dither kept until the factor
    /// or the file changes, whose columns lie within the dither's reach of a
    /// pass with fresh dither.
    /// Empty for the allpass trace of a file at a rate where the allpass
    /// cannot be designed: no such trace is drawn.
    TRangeQuery trace_query(int t, TraceKind kind);
    bool use_range_summaries = true;

private:
    void create_components();
    void create_actions();
    void create_menus();
    void create_alignment_menu();
    void create_shell_components();
    void create_player();
    void wire_workspace();

    void openaction1Execute();
    void Openaction2Execute();
    void playactionExecute();
    void normalizeactionExecute();
    void showallpassactionExecute();
    void showerroractionExecute();
    void playfile1actionExecute();
    void playfile2actionExecute();
    void Closefile11Click();
    void Closefile21Click();
    void alignment_changed();
    void matchbyactionExecute(TMatchBy v);
    void read_level_settings();
    void write_level_settings();

    void redraw_picture(int t);
    /// Puts the workspace's information lines (and the loop range's) into
    /// the labels, laying the panel out anew when their height changes.
    void show_info_lines();
    /// The loop range in a slot's own frames (file 2's offset taken in).
    TLoopRange loop_frames_of(int slot) const;
    void mirror_state();
    void open_into(int slot);
    void stop_playback();
    void MPCPlay1Stash(std::vector<int16_t>& arr, int32_t& used, bool& last);
    /// Makes `frames` frames of slot `slot` from play position `position` on,
    /// as they are played (level-matched, or the error of level matching),
    /// into out (frames × the player's nChans values).
    void produce_frames(int slot, int64_t position, int frames, int16_t* out);
    void MPCPlay1Closed();
    /// Moves the cursor to the frame being heard; `queued` is the number of
    /// stream frames handed to the player (with the chunk being filled).
    void show_heard_frame(int64_t queued);
    double timeline_end_frame() const;
    void end_playback_at(double end);
    void create_playback_options();
    void crossfadeactionExecute();
    std::vector<int16_t> playbuf;  // excerpt of the played file, reused per chunk
    TPlayTimeline playtimeline;    // where the queued frames came from
    TSetting* playsettings = nullptr;
    QTimer* cursortimer = nullptr;  // the cursor between two chunks, while playing

public:
    /// Loads a file into slot 0 or 1 (the open commands, the recent files
    /// lists, dropped files and the command line end here). The file is
    /// read and measured on a worker thread while the window goes on
    /// painting; a load that lasts longer than 0.5 s shows a progress
    /// dialog whose Cancel leaves the slot as it was. Returns once the load
    /// has ended: committed into the workspace, cancelled, or failed (the
    /// file error is raised here, on the GUI thread, with the slot
    /// unchanged). A load into a slot that is still loading is refused.
    /// The file is converted to the rate of the other slot's samples
    /// (TWorkspace::conversion_rate) on the worker; should the other slot
    /// change meanwhile, the file is read again for the rate then in force.
    void load_file(int slot, const QString& fname);
    /// A load into this slot is running.
    bool loading(int slot) const { return floading[size_t(slot)]; }
    /// "Align file 2 to file 1": estimates the offset of the two files on a
    /// worker thread while the window goes on, and puts it in force unless
    /// a file changed meanwhile. Returns once the estimate has ended. Refused
    /// while an alignment or a load runs (a load aligns by itself); nothing
    /// without two files.
    void align_files();
    /// An alignment started by align_files is running.
    bool aligning() const { return faligning; }
    /// Runs on the worker thread before the files are aligned (tests hold
    /// an alignment there); empty normally.
    static std::function<void()> align_worker_hook;
    /// The dialog of the running load once it shows, else nullptr.
    QProgressDialog* load_progress(int slot) const { return fprogress[size_t(slot)]; }
    /// Runs on the worker thread before each file is read (tests hold a
    /// load there); empty normally.
    static std::function<void(int slot, const QString& fname)> load_worker_hook;

    TFileDrop* filedrop = nullptr;  // owned as a Qt child

    // The blind ABX test (app/blind_test.cpp).
    QMenu* TestMenu = nullptr;
    QAction* blindtestaction = nullptr;   ///< "Blind test..." (Ctrl+B)
    QAction* abxplayA = nullptr;          ///< "A": play file 1 (key A)
    QAction* abxplayB = nullptr;          ///< "B": play file 2 (key B)
    QAction* abxplayX = nullptr;          ///< "X": play the trial's hidden file (key X)
    QAction* abxanswerA = nullptr;        ///< "X is A" (key 1)
    QAction* abxanswerB = nullptr;        ///< "X is B" (key 2)
    TAbxPanel* abxpanel = nullptr;        ///< created by the first "Blind test..."
    /// The test's model; its x() is what a test of the window reads to
    /// answer (a person sees nothing of it).
    TAbxTest& abx() { return *fabx; }
    /// What is being heard in the test: -1 nothing chosen, 0 A, 1 B, 2 X.
    int abxsource() const { return fabxsource; }
    /// The test is running and its panel shows: the keys A, B, X, 1, 2 work.
    bool abx_active() const;
    /// The slot being played as the window may show it: wavplayno, or -1
    /// while the blind test plays X (check marks, cursors and crest box
    /// outlines then show no file as the one being played).
    int shown_playno() const;
    /// Replaces the random source of X (tests); empty: the system's
    /// cryptographic source.
    static std::function<int()> abx_pick_hook;
    /// The dialog of "Save log...": returns the chosen path or an empty
    /// text when cancelled. Replaceable (tests).
    static std::function<QString(QWidget* parent, const QString& suggested)> save_log_dialog_hook;
    /// Path of the log written at the end of the last test (empty before).
    QString lastabxlog;
    /// Writes the log of the test so far to `path`, or to the logs' folder
    /// under the time's name when `path` is empty; returns the path. Raises
    /// EFileError when it cannot be written.
    QString write_abx_log_now(const QString& path = {});

    /// What the blind test logs of the level matching in force: criterion
    /// (named as in "Match by"), on or off, the factors of A and B in dB,
    /// and the difference of the files' levels by that criterion without
    /// matching (dB, B − A; 0 when a file has no such level).
    struct TAbxMatching {
        QString criterion;
        bool matching = false;
        std::array<double, 2> factordb{};
        double differencedb = 0;
    };
    TAbxMatching abx_matching() const;
    /// What the blind test logs of the time alignment of file 2: the offset
    /// in force (frames and ms) and its polarity as heard (normal, inverted,
    /// or corrected).
    void abx_alignment(TAbxConditions& into) const;

    /// The loop range of playback in seconds (inactive while hi ≤ lo): set
    /// by Shift+drag in a waveform box or the keys [ and ] at the cursor;
    /// playback repeats it seamlessly. A Shift+click clears it.
    double looplo() const { return floop[0]; }
    double loophi() const { return floop[1]; }
    void setLoop(double lo, double hi);
    /// The loop range in frames of a file at fs Hz.
    TLoopRange loop_frames(double fs) const;

private:
    void create_blind_test();
    void blindtestactionExecute();
    bool start_blind_test();
    void abx_play(int source);
    void abx_answer(int said);
    void abx_end_test();
    void abx_stop();
    void abx_save_log();
    void abx_show_state();
    TAbxLogHeader abx_log_header();
    static QString abx_transition_text();
    void start_file_facts();
    std::unique_ptr<TAbxTest> fabx;
    int fabxsource = -1;
    double fabxstart = 0;  // seconds: where every trial starts
    std::shared_future<std::array<TAbxFileFacts, 2>> fabxfacts;
    std::array<double, 2> floop{0, 0};
    double floopanchor = 0;
    bool floopdrag = false;

    std::array<bool, 2> floading{};
    bool faligning = false;
    std::array<QProgressDialog*, 2> fprogress{};

    TWorkspace* ws = nullptr;  // owned as a Qt child
    QString flastfile;         // the file last opened in this run
    void open_demo_recordings();
};

}  // namespace wavrell
