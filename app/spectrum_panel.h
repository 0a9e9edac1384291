#pragma once

#include "app/background_job.h"

#include <QDockWidget>
#include <QString>

#include <array>
#include <memory>
#include <vector>

class QLabel;

namespace wavrell {

class TFrameSource;
class TPaintBox;

/// What the spectrum panel plots: the average spectra of up to three
/// signals (file 1, file 2, their difference; null where there is none)
/// over the time line frames [from, to).
struct TSpectrumRequest {
    std::array<std::shared_ptr<const TFrameSource>, 3> sources;
    std::array<float, 3> gaindb{};  ///< raises each curve (the level-matching factor)
    int64_t from = 0, to = 0;
    double sampfreq = 0;
    int fftsize = 4096;
    float floordb = -120;
    QString caption;  ///< what the range is, e.g. "Visible range 1.0 s – 3.5 s"
};

/// The "Spectrum" panel, docked under the lanes: the average spectrum of
/// file 1, file 2 and the difference over the visible range (or the loop
/// range), in one plot on a logarithmic frequency axis in dBFS. The spectra
/// are made on a worker; a new request cancels the one before. GUI thread.
class TSpectrumPanel : public QDockWidget {
public:
    explicit TSpectrumPanel(QWidget* parent);
    ~TSpectrumPanel() override;

    /// Makes and shows the spectra of `request`.
    void show_spectra(const TSpectrumRequest& request);
    /// Stops the worker (its sources are about to go).
    void stop() { fjob.stop(); }

    /// The curves shown (levels per bin, dBFS with the gains applied; empty
    /// where a signal is absent), their bin width, and whether the newest
    /// request has been answered.
    const std::array<std::vector<float>, 3>& curves() const { return fcurves; }
    double binhz() const { return fbinhz; }
    bool ready() const { return fready; }
    QLabel* caption = nullptr;
    TPaintBox* plot = nullptr;

    /// Curve colours and names: "File 1", "File 2", "Difference".
    static const std::array<QColor, 3> colours;
    static const std::array<QString, 3> names;

private:
    void paint_plot(QPainter& canvas);

    TBackgroundJob fjob;
    std::array<std::vector<float>, 3> fcurves;
    double fbinhz = 0, fnyquist = 0;
    float ffloor = -120;
    bool fready = true;
};

}  // namespace wavrell
