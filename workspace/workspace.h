#pragma once

#include "workspace/level_analysis.h"
#include "workspace/level_matching.h"
#include "workspace/loudness.h"
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
    /// Factor in force: filenormfactor while normalize is on, else 1.0.
    double filefactor(int slot) const { return ffilefactor[size_t(slot)]; }
    /// The information line of a slot (crest factor, RMS and peak in dB and
    /// the file name, then the loudness fields where the file's loudness was
    /// measured; "-" for a slot without samples, empty after closing).
    const QString& infoline(int slot) const { return finfoline[size_t(slot)]; }
    /// Range summaries of the first two channels of a slot's file, built by
    /// the load's measurement (empty before a load and after closing); the
    /// waveform view answers its column ranges from them.
    const std::vector<TChannelSummary>& summaries(int slot) const { return fsummaries[size_t(slot)]; }
    /// The 500 Hz allpass used by the measurement (and by the waveform view).
    TRealFilterSection* apfilter() const { return fapfilter; }

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

    /// The level of a slot's file under the matching criterion in force, as
    /// the matching takes it: the RMS in dBFS, or the integrated or maximum
    /// short-term loudness in LUFS; the file's own level, before any
    /// factor (adding 20 log10(filefactor) gives the level as heard). Empty
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

    /// Loads and measures a WAV file into a slot: open, recent files, views
    /// outdated and time axis refitted, block table and file levels
    /// measured, update_levels, play position 0. A file that cannot be read
    /// raises EFileError and changes nothing of the workspace.
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
    /// loudness fields.
    bool MeasureLoudness() const { return fmeasureloudness; }
    void setMeasureLoudness(bool v) { fmeasureloudness = v; }

    /// The first half of load_file, touching no workspace: reads fname into
    /// a fresh store and measures it with `allpass` (a filter of the
    /// workspace's settings, see allpass_copy, whose SampFreq it changes).
    /// Runs on any thread. Raises EFileError for a file that cannot be read,
    /// and ELoadCancelled when `cancel` is set before the reading or the
    /// measuring begins. With `summaries` off the range summaries of the
    /// waveform view are not built (nothing will draw the file). With
    /// `loudness` on the loudness is measured too, beside the levels on this
    /// machine's processors; `cancel` is then also looked at every 100 ms of
    /// audio while it is measured.
    static TLoadedFile read_file(int slot, const QString& fname, TRealFilterSection& allpass,
                                 const std::atomic<bool>* cancel = nullptr, bool summaries = true,
                                 bool loudness = false);
    /// A filter with the settings of apfilter, without Qt parent, for
    /// read_file on another thread. GUI thread.
    std::unique_ptr<TRealFilterSection> allpass_copy() const;
    /// The second half of load_file: takes the file into its slot, then
    /// recent files, views outdated, time axis refitted, levels stored,
    /// update_levels, play position 0. GUI thread.
    void commit_load(TLoadedFile&& f);

    /// Empties a slot: its samples, its block rows and its information line;
    /// refits the time axis. File levels and factors keep their values.
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
    /// One decimal, rounded, with the user's decimal separator; "-0.0" is
    /// shown as "0.0".
    static QString decibel_text(double db);
    /// The loudness fields that follow a measured file's information line:
    /// "  |  " integrated loudness " LUFS, LRA " range " LU, TP " true peak
    /// " dBTP" (the true peak with its sign), and with `shortterm` also
    /// ", max S " maximum short-term loudness " LUFS". Loudness and peak are
    /// those of the file scaled by `factor` (what is heard), the range is
    /// the file's own; "-" for a value that does not exist, "-inf" for a
    /// silent peak. Empty when the loudness was not measured.
    static QString loudness_suffix(const TLoudness& l, double factor, bool shortterm);

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

private:
    void emit_checks();
    /// The level that the matching takes for a slot, as a linear amplitude
    /// (see matching_factors); empty where the slot has no such level.
    std::optional<double> match_level(int slot) const;

    std::array<TWav*, 2> fwav{};
    TRealFilterSection* fapfilter = nullptr;
    std::array<TLevelTable, 2> flevels;
    std::array<std::vector<TChannelSummary>, 2> fsummaries;
    std::array<double, 2> ffilerms{1.0, 1.0};
    std::array<double, 2> ffilepeak{1.0, 1.0};
    std::array<double, 2> ffilenormfactor{1.0, 1.0};
    std::array<double, 2> ffilefactor{1.0, 1.0};
    std::array<TLoudness, 2> floudness;
    std::array<QString, 2> finfoline;
    int32_t fplaycount = 0;
    bool fbuildsummaries = true;
    bool fmeasureloudness = false;
    TMatchBy fmatchby = mbrms;
    bool fnormalize = false;
    bool fshowerror = false;
    bool fshowallpass = false;
    int32_t fwavplayno = 0;
    double fcursorpos = 0;
};

}  // namespace wavrell
