#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPainter;

namespace wavrell {

class TDifference;
class TForm19;
class TPaintBox;
class TSetting;

/// The null test in the window: the "Difference" menu, the difference lane
/// under the two files, the "Difference:" information line and "Play
/// difference". The difference of the pair in the window (at file 2's
/// offset and polarity in force) is taken on a worker once both files are
/// loaded and aligned; a change of a file or of the alignment gives it up
/// and starts again. GUI thread.
class TDifferenceView : public QObject {
public:
    /// Creates the menu (after the window's other menus so far), the lane
    /// and the line as children of the window's Panel1.
    explicit TDifferenceView(TForm19& window);
    /// Gives up a running computation and waits for it.
    ~TDifferenceView() override;

    QMenu* menu = nullptr;
    QAction* showaction = nullptr;   ///< "Show difference", Ctrl+D, check-able
    QAction* playaction = nullptr;   ///< "Play difference", key D
    QAction* amplifyactions[3] = {}; ///< "Amplify difference": 0, +20, +40 dB
    QLabel* line = nullptr;          ///< "Difference: …"
    TPaintBox* lane = nullptr;

    /// Pixels the line takes under the files (0 while it is hidden); the
    /// lane, while shown, takes the height of a file's box below it.
    int line_height(int labelH, int width) const;
    bool lane_shown() const;
    /// Puts the line at y and the lane under it (laneH pixels) from x on.
    void place(int x, int y, int width, int labelH, int laneH);

    /// The files or the alignment may have changed: when the pair in the
    /// window now differs from the one of the difference held (or being
    /// taken), that one is dropped and a new one started (once both files
    /// are loaded and aligned).
    void files_changed();
    /// A slot's samples are about to change: the worker is given up and
    /// waited for, the difference dropped.
    void samples_changing();

    /// The difference of the pair in the window, once taken; else nullptr.
    const TDifference* difference() const { return fdifference.get(); }
    std::shared_ptr<const TDifference> shared_difference() const { return fdifference; }
    /// Draws the lane in another way (the spectrogram) when set and true.
    std::function<bool(QPainter&)> paint_instead;
    /// Runs when a difference has been taken or dropped.
    std::function<void()> changed;
    /// The worker is taking the difference.
    bool computing() const { return fworker.joinable() && !fdone; }
    /// Playback plays the difference rather than a file.
    bool playing() const { return fplaying; }
    /// Ends playing the difference (a file is chosen again); true when it
    /// was playing it.
    bool stop_playing();
    /// "Amplify difference" in dB (0, 20 or 40).
    int amplify_db() const { return famplify; }
    /// Values of the difference that playback has clipped so far.
    int64_t clipped() const { return fclipped; }
    /// Makes `frames` frames of the difference from timeline frame
    /// `position` on for the player (chans values a frame).
    void produce(int64_t position, int frames, int chans, int16_t* out);

    /// Runs on the worker before the difference is taken (tests hold it
    /// there); empty normally.
    static std::function<void()> worker_hook;

private:
    struct Key {
        const void* file1 = nullptr;
        const void* file2 = nullptr;
        int64_t frames1 = -1, frames2 = -1, offset = 0;
        int sign = 1;
        bool operator==(const Key&) const = default;
    };
    struct Job;

    void start();
    void cancel_worker();
    void finished(const std::shared_ptr<Job>& job);
    void show_line(const QString& error = {});
    void paint(QPainter& canvas);
    void play_difference();
    void set_amplify(int db);

    TForm19& w;
    TSetting* settings = nullptr;
    QActionGroup* amplifygroup = nullptr;
    std::shared_ptr<const TDifference> fdifference;
    Key fkey, frunning;
    bool fhavekey = false;
    bool frelayout = false;
    std::thread fworker;
    std::shared_ptr<Job> fjob;
    std::atomic<bool> fdone{false};
    bool fplaying = false;
    int famplify = 0;
    int64_t fclipped = 0;
    int fplacedheight = 0;  // height of the line where it was last placed
};

}  // namespace wavrell
