#pragma once

#include <QObject>
#include <QString>

class QAction;
class QLabel;
class QMenu;
class QWidget;

namespace wavrell {

class TAxis;
class TForm19;
class TProgId;
class TSetting;
class TWorkspace;

/// Moving about the time line of the main window: the mouse wheel over the
/// waveform boxes scrolls the time axis and Ctrl+wheel zooms around the
/// mouse; "Zoom to fit" and "Zoom to loop"; while playing the view turns a
/// page when the cursor leaves it ("Follow cursor while playing");
/// "Time as h:mm:ss" labels the time axis in m:ss or h:mm:ss when the view
/// spans more than a minute; and the time readout on the status bar (the
/// cursor's time and frame, the loop's start, end and length). The two
/// options are remembered (section "View"). GUI thread.
class TViewNavigation : public QObject {
public:
    /// The options are kept at the roaming location of `progid`.
    TViewNavigation(TForm19& form, TAxis& xaxis, TWorkspace& ws, TProgId& progid);

    QAction* zoomfitaction = nullptr;   ///< "Zoom to fit", Ctrl+0
    QAction* zoomloopaction = nullptr;  ///< "Zoom to loop" (with a loop range only)
    QAction* followaction = nullptr;    ///< "Follow cursor while playing", on by default
    QAction* timeaction = nullptr;      ///< "Time as h:mm:ss", off by default
    QLabel* readout = nullptr;          ///< on the status bar

    /// Puts the commands into the "View" menu.
    void fill_menu(QMenu* menu);
    /// Takes the wheel over `box` (a waveform box: its x is the time axis').
    void watch(QWidget* box);

    /// The whole time line in view (as after a load).
    void zoom_to_fit();
    /// The loop range in view; nothing without a loop range.
    void zoom_to_loop();
    /// One wheel step of `angle` eighths of a degree (120 a notch) at pixel
    /// x of the time axis: a scroll by a tenth of the view per notch
    /// (towards later times as the wheel turns down), with Ctrl a zoom in
    /// (up) or out (down) by 1.25 per notch that keeps the time under the
    /// mouse in place. The view stays within the axis' limits.
    void wheel(int x, int angle, Qt::KeyboardModifiers modifiers);
    /// Turns the page when `cursor` (seconds) has left the view: the view
    /// moves by whole spans until the cursor is in it (within the limits).
    /// Nothing while following is off.
    void follow(double cursor);
    /// Brings the readout and "Zoom to loop" up to date with the cursor and
    /// the loop range.
    void update_readout();

    /// A time as h:mm:ss.mmm ("0:01:05.250"; "-" before a negative time).
    static QString time_text(double seconds);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void read_settings();
    void write_settings();
    /// Puts lo … hi in view, moved (not shrunk) into the axis' limits.
    void show_span(double lo, double hi);

    TForm19& fform;
    TAxis& fxaxis;
    TWorkspace& fws;
    TSetting& fsettings;  // owned as a Qt child
};

}  // namespace wavrell
