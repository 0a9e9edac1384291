#pragma once

#include <QProgressDialog>

#include <functional>

class QTimer;

namespace wavrell {

class TLoadProgress;
class TWorkspace;

/// The progress of a load (or of the wait for a loudness measurement): a
/// heading such as "Loading file 1: take.wav", the stage with its
/// percentage ("Converting to 44100 Hz: 45%"), a bar with that percentage,
/// and Cancel. Only Escape and a click on Cancel cancel: the button never
/// takes the keyboard focus (Space, the A/B key of a listener, would press
/// it), and every other key goes on to the window, which keeps switching
/// files while it waits. Polls the progress ten times a second.
class TLoadProgressDialog : public QProgressDialog {
public:
    /// `progress` is read on every poll; it must outlive the dialog.
    TLoadProgressDialog(QWidget* window, const QString& heading, std::function<const TLoadProgress&()> progress);

    /// Shows the progress as it is now.
    void poll();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString fheading;
    std::function<const TLoadProgress&()> fprogress;
    QTimer* ftimer = nullptr;
};

/// Waits, with the window going on, until the loudness of both slots'
/// files is there; a dialog shows "Measuring loudness" and its percentage
/// when that takes longer than half a second. False when cancelled.
bool wait_for_loudness(QWidget* window, const TWorkspace& ws);

}  // namespace wavrell
