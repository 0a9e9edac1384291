#pragma once

#include "app/background_job.h"
#include "workspace/spectrogram.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <array>
#include <deque>
#include <memory>

class QAction;
class QActionGroup;
class QMenu;
class QPainter;

namespace wavrell {

class TForm19;
class TPaintBox;
class TSpectrumPanel;

/// The window's lanes as spectrograms: the "View" menu's "Spectrogram",
/// "Logarithmic frequency", "FFT size", "Range" and "Spectrum", the
/// pictures of the four lanes (made on a worker for the view in force,
/// the last few kept per lane, so that going back to a zoom level shows it
/// at once; meanwhile the newest older picture is drawn scaled to the
/// view), a frequency axis beside each lane, the colour legend to the right
/// of the lanes, and the hover readout (time, frequency, level). Levels are
/// those heard: each file's level-matching factor raises its picture.
/// GUI thread.
class TSpectrogramView : public QObject {
public:
    explicit TSpectrogramView(TForm19& window);
    ~TSpectrogramView() override;

    /// Adds the commands to the window's "View" menu.
    void add_to_menu(QMenu* view);

    QAction* spectrogramaction = nullptr;  ///< "Spectrogram", Ctrl+G
    QAction* logfreqaction = nullptr;      ///< "Logarithmic frequency"
    QMenu* fftmenu = nullptr;              ///< "FFT size": 1024 … 16384
    QMenu* rangemenu = nullptr;            ///< "Range": floor −90, −120 or −150 dB
    QAction* spectrumaction = nullptr;     ///< "Spectrum", Ctrl+Shift+G
    TSpectrumPanel* spectrumpanel = nullptr;  ///< created by the first "Spectrum"

    /// The lanes show spectrograms.
    bool on() const;
    TSpectrogramSettings settings() const { return fsettings; }
    float floordb() const { return ffloor; }
    void setFftSize(int n);
    void setLogFrequency(bool on);
    void setFloor(float db);

    /// Paints lane box t (0, 1: file 1's channels; 2, 3: file 2's; 4: the
    /// difference, its channels' mean).
    void paint(int t, QPainter& canvas);
    /// Paints the difference lane as a spectrogram; false (nothing painted)
    /// when the spectrograms are off or there is no difference to show.
    bool paint_difference(QPainter& canvas);
    /// The window's difference was taken or dropped.
    void difference_changed();
    /// Places the frequency axes and the legend; shrinks the lanes and the
    /// time axis by the legend's width while the spectrograms show. Run at
    /// the end of every layout of the waveform area.
    void layout();
    /// The window's views changed (zoom, scroll, files, factors, loop).
    void views_changed();
    /// A slot's samples are about to change or go: the workers stop reading
    /// them first.
    void samples_changing(int slot);

    /// The picture of every lane for the view in force is there.
    bool complete() const;
    /// What the hover readout shows, empty when the mouse is not over a
    /// lane: "12.345 s  1.25 kHz  -42.3 dBFS".
    QString readout() const { return freadout; }
    /// Bytes of the pictures kept.
    size_t cache_bytes() const;
    /// Lane pictures made so far (tests: a cached zoom level makes none).
    int pictures_made() const { return fmade; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Key {
        double t0 = 0, t1 = 0;
        int width = 0, height = 0;
        TSpectrogramSettings settings;
        int64_t offset = 0;
        int generation = 0;
        bool operator==(const Key&) const = default;
    };
    struct Picture {
        Key key;
        TSpectrogramPicture levels;
        QImage image;  // coloured for imagegain and imagefloor
        float imagegain = 0, imagefloor = 0;
    };
    static constexpr int kLanes = 5;  // the files' four and the difference's
    TPaintBox* box_of(int t) const;
    bool has_signal(int t) const;
    Key key_of(int t) const;
    TFrequencyAxis axis_of(int t) const;
    float gain_db(int t) const;
    const Picture* find(int t, const Key& key) const;
    void request();
    void settings_changed();
    void hover(int t, int x, int y);
    void paint_legend(TPaintBox* box, QPainter& canvas);
    void paint_frequency_axis(int t, QPainter& canvas);

    TForm19& fwindow;
    TSpectrogramSettings fsettings;
    float ffloor;
    QActionGroup* fftgroup = nullptr;
    QActionGroup* rangegroup = nullptr;
    std::array<std::deque<Picture>, kLanes> fpictures;  // newest first
    std::array<Key, kLanes> fpending{};
    bool fbusy = false;
    std::array<int, 3> fgeneration{};  // file 1, file 2, the difference
    int fmade = 0;
    TBackgroundJob fjob;
    std::array<TPaintBox*, 2> flegends{};  // beside each file's two lanes
    std::array<TPaintBox*, 4> faxes{};
    int fhoverlane = -1, fhoverx = 0, fhovery = 0;
    QString freadout;
    QString fspectrumkey;  // what the spectrum panel was last asked for
};

}  // namespace wavrell
