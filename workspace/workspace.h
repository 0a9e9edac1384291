#pragma once

#include "workspace/abx_log.h"
#include "workspace/error_summary.h"
#include "workspace/alignment.h"
#include "workspace/level_analysis.h"
#include "workspace/level_matching.h"
#include "workspace/loudness.h"
#include "workspace/loop_levels.h"
#include "workspace/range_summary.h"
#include "common/errors.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace wavrell {

class TWav;
class TRealFilterSection;
class TErrorSummaries;
class TLoadProgress;
class TLoudnessJobs;

/// What TWorkspace::read_file makes of a file beside its samples and levels.
struct TLoadOptions {
    /// The range summaries of the waveform view (off where nothing draws).
    bool summaries = true;
    /// The rate the samples are converted to (0: the file's own).
    int32_t rate = 0;
    /// The loudness, measured beside the levels on this machine's processors.
    bool loudness = false;
    /// The file's alignment signal, and when `other` (the other slot's
    /// signal) holds samples, the alignment of the two files.
    bool align = false;
    std::shared_ptr<const TAlignSignal> other;
    /// Where the load is (stage and how far), for a progress display.
    TLoadProgress* progress = nullptr;
};

/// A file read and measured for one slot but not yet part of a workspace
/// (TWorkspace::read_file makes it, TWorkspace::commit_load takes it in).
struct TLoadedFile {
    TLoadedFile();
    TLoadedFile(TLoadedFile&&) noexcept;
    TLoadedFile& operator=(TLoadedFile&&) noexcept;
    ~TLoadedFile();

    int slot = 0;
    std::unique_ptr<TWav> wav;  ///< the file's samples, no Qt parent
    TLevelTable levels;         ///< 4 rows, those of `slot` filled
    TFileLevels file;           ///< RMS and peak over all channels
    TLoudness loudness;         ///< measured only when read_file was asked to
    std::vector<TChannelSummary> summaries;  ///< range summaries of the first two channels
    /// The file's own sampling rate in Hz; differs from wav's when the
    /// samples were converted to the rate of the other slot.
    int32_t sourcerate = 0;
    /// What the alignment compares of this file (null when not asked for).
    std::shared_ptr<const TAlignSignal> alignsignal;
    /// The estimate of file 2 against file 1 made against `alignedwith`, the
    /// other slot's signal when the load began (none without one).
    std::optional<TAlignment> alignment;
    std::shared_ptr<const TAlignSignal> alignedwith;
    /// Size and SHA-256 of the bytes loaded (for the blind test's log).
    TAbxFileFacts facts;
};

/// The load was given up (its cancel flag was set) before it ended.
WAVRELL_DECLARE_ERROR(ELoadCancelled);

/// The state behind the main window, free of widgets: two file slots (slot 0
/// is "file 1", slot 1 "file 2"), their level measurements and the
/// level-matching factors, the display and play modes, the play position and
/// the two information lines. The window owns one, connects the events below
/// to its views and mirrors the check states of its commands from it.
/// Levels are full-scale units (a sample v counts as v / 32768). GUI thread.
class TWorkspace : public QObject {
    Q_OBJECT
public:
    /// Two empty stores; filerms, filepeak, filenormfactor and filefactor
    /// all 1.0 (a slot never loaded counts as RMS 1.0 and peak 1.0); empty
    /// block tables; normalization off.
    explicit TWorkspace(QObject* owner = nullptr);
    ~TWorkspace() override;

    /// The sample store of a slot (0 or 1), owned by the workspace.
    TWav* wav(int slot) const { return fwav[size_t(slot)]; }
    /// Block levels of a slot: 4 rows, of which rows 2 × slot and
    /// 2 × slot + 1 are filled.
    const TLevelTable& levels(int slot) const { return flevels[size_t(slot)]; }
    double filerms(int slot) const { return ffilerms[size_t(slot)]; }
    double filepeak(int slot) const { return ffilepeak[size_t(slot)]; }
    double filenormfactor(int slot) const { return ffilenormfactor[size_t(slot)]; }
    /// Loudness of a slot's file (measured when its load measured loudness,
    /// see MeasureLoudness). Like filerms and filepeak it stays when the
    /// slot is closed, until the slot is loaded again.
    const TLoudness& loudness(int slot) const { return floudness[size_t(slot)]; }
    /// The loudness of the slot's file is being measured on a worker after
    /// its load (see MeasureLoudness): the fields show "…", and matching by
    /// a loudness criterion waits for it.
    bool loudness_pending(int slot) const { return floudnesspending[size_t(slot)]; }
    /// How far that measurement has come, 0 … 1.
    double loudness_progress(int slot) const;
    /// Level matching by a loudness criterion (or to the true peak) waits
    /// for a measurement: the factors stay 1.0 until both files' loudness is
    /// there.
    bool matching_waits() const;
    /// The levels of frames [first, end) of the slot's file (the loop
    /// range) once measured on a worker; nullptr until then
    /// (OnRangeLevelsReady tells when they are there).
    const TRangeLevels* range_levels(int slot, int64_t first, int64_t end);
    /// Factor in force: filenormfactor while normalize is on, else 1.0.
    double filefactor(int slot) const { return ffilefactor[size_t(slot)]; }
    /// A file was loaded into the slot and not closed since (also one of 0
    /// frames, which has no samples to play or draw).
    bool hasfile(int slot) const { return fhasfile[size_t(slot)]; }
    /// The factor a slot's file is stored with (TWav::storegain): below 1.0
    /// for a file whose samples go beyond full scale. filerms, filepeak and
    /// loudness are of the store; the file's own levels are those divided
    /// by it.
    double storegain(int slot) const { return fwav[size_t(slot)]->storegain(); }
    /// The factor from a slot's own levels (the store's divided by
    /// storegain) to the levels the information line and the JSON report
    /// give: what is heard (filefactor × storegain) while matching, 1.0
    /// (the file's own levels) otherwise.
    double reportfactor(int slot) const;
    /// The information line of a slot (crest factor, RMS and peak in dB and
    /// the file name, then the loudness fields where the file's loudness was
    /// measured; "-" for a slot never loaded, empty after closing). Levels
    /// are the file's own scaled by reportfactor; a file stored scaled down
    /// has the note " (stored -2.1 dB: peaks above full scale)" after its
    /// name.
    const QString& infoline(int slot) const { return finfoline[size_t(slot)]; }
    /// The information line in parts, for a display of several lines: the
    /// levels with the loudness fields (" Crest=… dB,  RMS=… dB,  Peak=… dB  |
    /// -14.2 LUFS, …"), the file name, and the notes that follow the name
    /// (rate, alignment). Empty for a slot without samples.
    QString info_levels(int slot) const;
    QString info_name(int slot) const;
    QString info_notes(int slot) const;
    /// Range summaries of the first two channels of a slot's file, built by
    /// the load's measurement (empty before a load and after closing); the
    /// waveform view answers its column ranges from them.
    const std::vector<TChannelSummary>& summaries(int slot) const { return fsummaries[size_t(slot)]; }
    /// The sampling rate in Hz of the file loaded into a slot, before any
    /// conversion (0 for a slot never loaded or closed); the slot's samples
    /// are at wav(slot)->sampfreq().
    int32_t sourcerate(int slot) const { return fsourcerate[size_t(slot)]; }
    /// Size and SHA-256 of the bytes loaded into a slot.
    const TAbxFileFacts& file_facts(int slot) const { return ffacts[size_t(slot)]; }
    /// The rate a file loaded into `slot` now is converted to: that of the
    /// other slot's samples when it holds any, else 0 (the file keeps its
    /// own rate). Both slots then play, draw and switch at one rate.
    int32_t conversion_rate(int slot) const;
    /// Summaries of the error of normalization (as the error view draws it)
    /// of the first two channels of a slot's file for the factor in force:
    /// built once per change of the file or the factor, on a worker thread,
    /// each build one draw of the dither. nullptr while they are being
    /// built (the first ask after a change starts the build;
    /// OnErrorSummariesReady tells when they are there); fewer than the
    /// channels when they could not be built (no memory, no thread).
    const std::vector<TErrorSummary>* error_summaries(int slot);
    /// Builds of error summaries started so far.
    int error_summary_builds() const;
    /// The 500 Hz allpass could be designed at the rate of the slot's file
    /// (it cannot at some rates of 500 Hz and below): without it the file has
    /// allpass peaks of 0, no allpass trace and no allpass crest bar.
    bool hasallpass(int slot) const { return fhasallpass[size_t(slot)]; }
    /// The 500 Hz allpass used by the measurement (and by the waveform view).
    TRealFilterSection* apfilter() const { return fapfilter; }

    // Alignment of file 2 to file 1. The offset and polarity in force are
    // kept here alone: playback, the waveform and crest views and the cursor
    // read them through slot_offset, slot_sign and slot_time.

    /// Whether loads align file 2 to file 1 when both slots hold samples
    /// (on by default; the level report of the command line leaves it off).
    bool AutoAlign() const { return fautoalign; }
    void setAutoAlign(bool v) { fautoalign = v; }

    /// The estimate for the two files loaded now; none while a slot is
    /// empty (and before the window's alignment of a pair has ended).
    const std::optional<TAlignment>& alignestimate() const { return falignestimate; }
    /// File 2's offset in force, in frames: at timeline frame k (file 1's
    /// frame k) file 2 plays and is drawn at its frame k + offset. 0 when
    /// not aligned.
    int64_t file2offset() const { return ffile2offset; }
    /// The offset was set by a nudge or "No alignment" rather than by the
    /// estimate.
    bool alignmentbyhand() const { return fbyhand; }
    /// "Correct polarity": file 2 is played and drawn negated when its
    /// estimate found it inverted. Set by every estimate (on when inverted);
    /// writing stores and repaints.
    bool correctpolarity() const { return fcorrectpolarity; }
    void setCorrectpolarity(bool v);
    /// File 2 is negated now (an inverted file 2 with "Correct polarity" on).
    bool file2negated() const;

    /// Offset in frames of a slot's file against the timeline: 0 for file 1,
    /// file2offset() for file 2.
    int64_t slot_offset(int slot) const { return slot == 1 ? ffile2offset : 0; }
    /// +1, or −1 for a negated file 2.
    int slot_sign(int slot) const { return slot == 1 && file2negated() ? -1 : 1; }
    /// The time (s) in a slot's own file at timeline time t (the cursor).
    double slot_time(int slot, double t) const;
    /// Seconds of the timeline that the files cover: file 1 from 0, file 2
    /// shifted by its offset; at least 0.
    double timeline_duration() const;

    /// The channel sums the alignment compares, made by the loads (null for
    /// an empty slot, or when AutoAlign was off). Immutable and shared, so
    /// that a worker can align while the window goes on.
    std::shared_ptr<const TAlignSignal> alignsignal(int slot) const { return falignsignal[size_t(slot)]; }
    /// Both slots hold samples, AutoAlign is on, and there is no estimate
    /// for them: the load could not make it (the other slot changed while it
    /// ran) and the window has to align them.
    bool alignment_due() const;
    /// Puts an estimate in force: its offset when it is trustworthy, else
    /// 0; "Correct polarity" on exactly when it found file 2 inverted. Only
    /// for an estimate made on the signals the slots hold now (file1,
    /// file2); returns false and changes nothing otherwise. Repaints and
    /// rebuilds file 2's information line.
    bool apply_alignment(const TAlignment& a, const TAlignSignal* file1, const TAlignSignal* file2);
    /// "Align file 2 to file 1" on this thread: estimates and applies
    /// (command line, tests; the window estimates on a worker). Nothing
    /// without two files.
    void align_files();
    /// Adds frames to file 2's offset (positive: file 2 counts as running
    /// that much later than file 1, so each of its moments is drawn and
    /// played sooner on the timeline); the offset then counts as set by
    /// hand. Only with both slots holding samples.
    void nudge_file2(int64_t frames);
    /// One millisecond of file 2 in frames (its rate / 1000, rounded, at
    /// least 1).
    int64_t millisecond_frames() const;
    /// "No alignment": offset 0, set by hand.
    void clear_alignment();
    /// The note on file 2's information line after its file name, e.g.
    /// "  [+1105 samples, 25.1 ms, r=0.998]"; empty for file 1 and while
    /// there is no alignment to speak of.
    QString alignment_note(int slot) const;

    /// Play position in sample frames.
    int32_t playcount() const { return fplaycount; }
    void setPlaycount(int32_t v) { fplaycount = v; }

    /// Level matching on or off; writing mirrors the check state, then
    /// update_levels.
    bool normalize() const { return fnormalize; }
    void setNormalize(bool v);

    /// What level matching brings to equal (RMS by default); writing stores
    /// it, then update_levels.
    TMatchBy MatchBy() const { return fmatchby; }
    void setMatchBy(TMatchBy v);

    /// What the larger matched peak is raised to ("Match peak to"): the
    /// sample peak to 0 dBFS (the default) or the true peak to -1 dBTP
    /// (which needs the loudness measurement, as matching by loudness
    /// does); writing stores it, then update_levels.
    TPeakTarget PeakTarget() const { return fpeaktarget; }
    void setPeakTarget(TPeakTarget v);
    /// The matching in force needs the loudness measurement: a loudness
    /// criterion or the true-peak target.
    bool matching_needs_loudness() const { return fmatchby != mbrms || fpeaktarget == pttrue; }

    /// The level of a slot's file under the matching criterion in force, as
    /// the matching takes it: the RMS in dBFS, or the integrated or maximum
    /// short-term loudness in LUFS; the level of the stored samples (the
    /// file's own for a file within full scale), before any factor (adding
    /// 20 log10(filefactor) gives the level as heard). Empty
    /// for a slot without samples and for one that takes no part in the
    /// matching (no measurable level: silence; for loudness also a file
    /// shorter than 400 ms or one whose loudness was not measured).
    std::optional<double> match_level_db(int slot) const;

    /// Show and play the error signal of normalization; writing mirrors the
    /// check state, then invalidate_views(true).
    bool showerror() const { return fshowerror; }
    void setShowerror(bool v);

    /// Draw the allpassed waveform; writing mirrors the check state, then
    /// invalidate_views(true).
    bool showallpass() const { return fshowallpass; }
    void setShowallpass(bool v);

    /// Slot being played. Writing changes it only to a slot (0 or 1) with
    /// samples; the "Play file" checks are mirrored in every case. No repaint.
    int32_t wavplayno() const { return fwavplayno; }
    void setWavplayno(int32_t v);

    /// Cursor time in seconds; writing stores it, then invalidate_views(false).
    double cursorpos() const { return fcursorpos; }
    void setCursorpos(double v);

    /// Loads and measures a sound file into a slot: open (converted to
    /// conversion_rate(slot) when that differs from the file's rate),
    /// recent files, views outdated and time axis refitted, block table and
    /// file levels measured, update_levels, play position 0. A file that
    /// cannot be read raises EFileError and changes nothing of the
    /// workspace.
    void load_file(int slot, const QString& fname);

    /// Whether load_file builds the range summaries that the waveform view
    /// draws from (on by default; a workspace without a window, such as the
    /// level report of the command line, leaves them out).
    bool BuildSummaries() const { return fbuildsummaries; }
    void setBuildSummaries(bool v) { fbuildsummaries = v; }

    /// Whether load_file also measures the loudness and true peak of the
    /// file (TLoudness; off by default: it costs several times the rest of
    /// the measurement). The window switches it on; with it off a
    /// loudness criterion finds no level, and the information lines show no
    /// loudness fields. A file committed without its loudness (the window
    /// loads without it) is measured afterwards on a worker thread
    /// (loudness_pending).
    bool MeasureLoudness() const { return fmeasureloudness; }
    void setMeasureLoudness(bool v) { fmeasureloudness = v; }

    /// The first half of load_file, touching no workspace: reads fname into
    /// a fresh store, converts it to `rate` Hz unless `rate` is 0 or the
    /// file's own (see conversion_rate), and measures the samples it then
    /// holds with `allpass` (a filter of the workspace's settings, see
    /// allpass_copy, whose SampFreq it changes). Runs on any thread. Raises
    /// EFileError for a file that cannot be read or converted (anything but
    /// a regular file is refused before it is opened; a failing allocation
    /// gives memory_error), and ELoadCancelled when `cancel` is set before
    /// the reading or the measuring begins, while the samples are converted,
    /// or (every 100 ms of audio) while the loudness is measured. See
    /// TLoadOptions for what else is made.
    static TLoadedFile read_file(int slot, const QString& fname, TRealFilterSection& allpass,
                                 const std::atomic<bool>* cancel = nullptr, const TLoadOptions& options = {});
    /// The error of a load for which memory ran out, naming the file.
    static EFileError memory_error(const QString& fname);
    /// A filter with the settings of apfilter, without Qt parent, for
    /// read_file on another thread. GUI thread.
    std::unique_ptr<TRealFilterSection> allpass_copy() const;
    /// The second half of load_file: takes the file into its slot, then
    /// recent files, views outdated, time axis refitted, levels stored,
    /// update_levels, play position 0. The file's estimate is put in force
    /// when it was made against the other slot's file of now; otherwise
    /// alignment_due() tells. GUI thread.
    void commit_load(TLoadedFile&& f);

    /// Empties a slot: its samples, its block rows and its information line;
    /// refits the time axis. File levels and factors keep their values. An
    /// alignment ends (file 2's line loses its note).
    void close_file(int slot);

    /// Recomputes the normalization factors, the factors in force and both
    /// information lines, then invalidate_views(true). The factors bring the
    /// two files to equal level by the criterion of MatchBy (see
    /// matching_factors): by RMS, a never loaded slot counts as RMS 1.0 and
    /// peak 1.0; a slot whose level (RMS, or loudness under a loudness
    /// criterion) does not exist or is zero, or whose peak is zero, takes no
    /// part: its factor is 1.0 and the other slot is scaled as if it had
    /// never been loaded.
    void update_levels();

    /// Asks the views to repaint; with dirty set also to redraw the cached
    /// waveform pictures (through OnInvalidateViews).
    void invalidate_views(bool dirty);

    /// The information line of a slot from its levels and factor, with the
    /// file name part `name`; "-inf" for a zero level, "-" for the crest
    /// factor when a level is zero. F is one decimal with the user's decimal
    /// separator.
    static QString info_line(double rms, double peak, double factor, const QString& name);
    /// The levels part of it: " Crest=… dB,  RMS=… dB,  Peak=… dB".
    static QString levels_text(double rms, double peak, double factor);
    /// What follows the file name in the information line of a file whose
    /// samples were converted: " (48000 Hz → 44100 Hz)" with the file's own
    /// rate first; empty when the rates are the same or `from` is 0.
    static QString rate_note(int32_t from, int32_t to);
    /// What follows the file name in the information line of a file stored
    /// scaled down by `storegain`: " (stored -2.1 dB: peaks above full
    /// scale)"; empty for a gain of 1.0.
    static QString store_note(double storegain);
    /// One decimal, rounded, with the user's decimal separator; "-0.0" is
    /// shown as "0.0".
    static QString decibel_text(double db);
    /// The loudness fields that follow a measured file's information line:
    /// "  |  " integrated loudness " LUFS, LRA " range " LU, TP " true peak
    /// " dBTP" (the true peak with its sign), and with `shortterm` also
    /// ", max S " maximum short-term loudness " LUFS". Loudness and peak are
    /// those of the file scaled by `factor` (what is heard), the range is
    /// the file's own ("LRA -" where there is none); "-" for a value that
    /// does not exist, "-inf" for a silent peak. Empty when the loudness
    /// was not measured.
    static QString loudness_suffix(const TLoudness& l, double factor, bool shortterm);
    /// The loudness fields while they are being measured: "…" in place of
    /// each value.
    static QString loudness_pending_suffix(bool shortterm);

    /// Events, empty when unassigned.
    std::function<void(bool dirty)> OnInvalidateViews;
    std::function<void()> OnResetTimeAxis;
    /// A file was opened (load step 2): add it to both recent-files lists.
    std::function<void(const QString& fname)> OnAddToRecentFiles;
    /// normalize, showerror, showallpass or wavplayno was written: the
    /// window sets the check marks of its commands from the workspace.
    std::function<void()> OnChecksChanged;
    /// An information line changed (update_levels, close_file).
    std::function<void()> OnInfoLinesChanged;
    /// The error summaries of a slot have been built (error_summaries).
    std::function<void(int slot)> OnErrorSummariesReady;
    /// A slot's samples are about to change (a load is taken in, a slot
    /// closed): readers of the stores on other threads stop first.
    std::function<void(int slot)> OnSamplesChanging;
    /// File 2's offset or polarity changed other than by a load (estimate,
    /// nudge, "No alignment", "Correct polarity", a slot closed).
    std::function<void()> OnAlignmentChanged;
    /// The loudness measured after a load could not be measured (the
    /// reason names the file); its fields then show "-".
    std::function<void(int slot, const QString& reason)> OnLoudnessFailed;
    /// The levels of a range asked for by range_levels are there.
    std::function<void(int slot)> OnRangeLevelsReady;

private:
    void emit_checks();
    /// The information line of a slot as update_levels builds it.
    QString slot_infoline(int slot) const;
    /// The loudness fields of a slot as they are now ("…" while measured).
    QString loudness_text(int slot) const;
    /// Offset 0, polarity as it is, no estimate.
    void reset_alignment();
    /// After a change of the alignment: file 2's line, repaint, checks.
    void alignment_changed();
    /// The level that the matching takes for a slot, as a linear amplitude
    /// (see matching_factors); empty where the slot has no such level.
    std::optional<double> match_level(int slot) const;

    std::array<TWav*, 2> fwav{};
    // Not a Qt child: its builds read the stores' samples and must have
    // ended before the stores go.
    std::unique_ptr<TErrorSummaries> ferrorsummaries;
    std::unique_ptr<TLoudnessJobs> floudnessjobs;
    std::unique_ptr<TLoopLevels> flooplevels;
    std::array<bool, 2> floudnesspending{};
    /// The slot's samples are about to change: its loudness measurement
    /// and its error summaries are given up.
    void samples_changing(int slot);
    void loudness_ready(int slot, const TLoudness& l);
    TRealFilterSection* fapfilter = nullptr;
    std::array<TLevelTable, 2> flevels;
    std::array<std::vector<TChannelSummary>, 2> fsummaries;
    std::array<double, 2> ffilerms{1.0, 1.0};
    std::array<double, 2> ffilepeak{1.0, 1.0};
    std::array<double, 2> ffilenormfactor{1.0, 1.0};
    std::array<double, 2> ffilefactor{1.0, 1.0};
    std::array<TLoudness, 2> floudness;
    std::array<QString, 2> finfoline;
    std::array<int32_t, 2> fsourcerate{};
    std::array<TAbxFileFacts, 2> ffacts;
    std::array<bool, 2> fhasallpass{true, true};
    std::array<bool, 2> fhasfile{false, false};
    int32_t fplaycount = 0;
    bool fbuildsummaries = true;
    bool fmeasureloudness = false;
    TMatchBy fmatchby = mbrms;
    TPeakTarget fpeaktarget = ptsample;
    bool fnormalize = false;
    bool fshowerror = false;
    bool fshowallpass = false;
    int32_t fwavplayno = 0;
    double fcursorpos = 0;

    bool fautoalign = true;
    std::array<std::shared_ptr<const TAlignSignal>, 2> falignsignal;
    std::optional<TAlignment> falignestimate;
    int64_t ffile2offset = 0;
    bool fbyhand = false;
    bool fcorrectpolarity = false;
};

}  // namespace wavrell
