#pragma once

#include "common/errors.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

namespace wavrell {

/// Errors of the axis: a non-positive end on a logarithmic axis, a tick
/// index out of range.
WAVRELL_DECLARE_ERROR(EAxisError);

/// Where an axis stands beside its plot: posleft / posright are vertical
/// axes, posover / posunder horizontal ones.
enum tposition { posleft, posright, posover, posunder };

class TAxisLimitForm;

/// A plot axis: holds the value range of one plot (requested ends clamped by
/// limits on every read), maps values to pixels and back, builds and paints
/// tick marks with labels (linear, logarithmic or musical), and lets the user
/// drag the ends or the whole range and type both ends into a dialog.
///
/// Pixels count from the top of a vertical axis and from the left of a
/// horizontal one; without Reverse the high end is at the top / right.
/// N below is the axis length: height() of a vertical, width() of a
/// horizontal axis. GUI thread only.
///
/// Source files: axis.cpp (scale model), axis_ticks.cpp (tick set),
/// axis_paint.cpp (painting), axis_mouse.cpp (mouse and the dialog).
class TAxis : public QWidget {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TAxis* sender)>;
    /// Button down / up: sender, button, modifiers, x, y (widget pixels).
    using TMouseEvent =
        std::function<void(TAxis* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>;
    /// Mouse move: sender, modifiers, x, y.
    using TMouseMoveEvent = std::function<void(TAxis* sender, Qt::KeyboardModifiers shift, int x, int y)>;

    explicit TAxis(QWidget* parent = nullptr);
    ~TAxis() override;

    /// Runs once after the owner has applied all its settings: rebuilds the
    /// tick set.
    void Loaded();

    // --- Range -----------------------------------------------------------
    /// Effective low / high end: the requested end clamped by the limits.
    /// May raise ERangeError with IsInteger when a limit does not fit an int.
    double LoValue() const;
    double HiValue() const;
    /// Stores the requested end, notifies OnScaleChanged when the effective
    /// end before differs from v (unless a scale handler of this axis runs).
    /// On a logarithmic axis v <= 0 raises EAxisError (the value stays stored).
    void setLoValue(double v);
    void setHiValue(double v);
    /// Sets both ends with at most one OnScaleChanged.
    void set_hilovalues(double lo, double hi);
    /// Store a requested end without ever notifying (used by the drags).
    void put_lovalue(double x);
    void put_hivalue(double x);

    /// Requested ends as last stored (not clamped).
    double requested_lovalue() const { return flovalue; }
    double requested_hivalue() const { return fhivalue; }

    // --- Limits ----------------------------------------------------------
    double MinLoValue() const { return fminlovalue; }
    double MaxLoValue() const { return fmaxlovalue; }
    double MinHiValue() const { return fminhivalue; }
    double MaxHiValue() const { return fmaxhivalue; }
    double MinValueDifference() const { return fminvaluedifference; }
    double MaxValueDifference() const { return fmaxvaluedifference; }
    void setMinLoValue(double m);
    void setMaxLoValue(double m);
    void setMinHiValue(double m);
    void setMaxHiValue(double m);
    void setMinValueDifference(double d);
    void setMaxValueDifference(double d);

    // --- Appearance and behaviour ----------------------------------------
    tposition Position() const { return fposition; }
    void setPosition(tposition p);
    bool Logarithmic() const { return flogarithmic; }
    /// Raises EAxisError (and stays linear) when a stored end is not > 0.
    void setLogarithmic(bool b);
    bool MusicScale() const { return fMusicScale; }
    void setMusicScale(bool b);
    /// A linear axis of seconds whose range spans more than a minute is
    /// labelled in m:ss (h:mm:ss from an hour on), at steps of whole
    /// seconds and minutes, with the caption "[m:ss]" or "[h:mm:ss]";
    /// a shorter range keeps the plain labels and caption. Off by default.
    bool TimeLabels() const { return ftimelabels; }
    void setTimeLabels(bool b);
    /// The labels are in m:ss or h:mm:ss now (see TimeLabels).
    bool time_labels_shown() const;
    QFont Font() const { return font(); }
    void setFont(const QFont& f) { QWidget::setFont(f); }
    bool ShowTickmarks() const { return fshowtickmarks; }
    void setShowTickmarks(bool b);
    QColor BackgroundColor() const { return fbackgroundset ? fbackgroundcolor : palette().color(QPalette::Button); }
    void setBackgroundColor(const QColor& c);
    /// Tick line length in pixels.
    int TickMarkSize() const { return ftickmarksize; }
    void setTickMarkSize(int n);
    /// Wanted pixel distance between ticks of a linear axis.
    int TickSpaceAim() const { return ftickspaceaim; }
    void setTickSpaceAim(int n);
    /// Unit caption, e.g. "[s]".
    QString AxisText() const { return faxistext; }
    void setAxisText(const QString& t);
    bool Reverse() const { return freverse; }
    void setReverse(bool b);
    bool MarkerVisible() const { return fmarkervisible; }
    void setMarkerVisible(bool b);
    double MarkerValue() const { return fmarkervalue; }
    /// Ignored while a scale handler of this axis runs or the axis is hidden.
    void setMarkerValue(double m);
    int MarkerPixel() const { return value_to_pixel(fmarkervalue); }
    void setMarkerPixel(int p) { setMarkerValue(pixel_to_value(p)); }
    bool IsInteger() const { return fisinteger; }
    void setIsInteger(bool b);
    bool Autosize() const { return fautosize; }
    void setAutosize(bool b);

    bool AllowLoScroll() const { return fallowloscroll; }
    void setAllowLoScroll(bool b) { fallowloscroll = b; }
    bool AllowHiScroll() const { return fallowhiscroll; }
    void setAllowHiScroll(bool b) { fallowhiscroll = b; }
    bool AllowMidScroll() const { return fallowmidscroll; }
    void setAllowMidScroll(bool b) { fallowmidscroll = b; }
    bool AllowDoubleClick() const { return fallowdoubleclick; }
    void setAllowDoubleClick(bool b) { fallowdoubleclick = b; }

    // --- Mappings (never raise; arithmetic failures give 0) ---------------
    /// Fraction along the axis, clipped to 0..1.
    double value_to_position(double v) const;
    double value_to_notclipped_position(double v) const;
    /// Pixel along the axis, clipped to 0..N-1 (-1 when N = 0).
    int value_to_pixel(double v) const;
    int value_to_notclippedpixel(double v) const;
    /// Value at pixel p, clamped into the effective range.
    double pixel_to_value(int p) const;

    // --- Tick set ----------------------------------------------------------
    /// Rebuilds the tick set from the effective ends, N and the scale kind.
    void compute_tickmarks();
    void set_ntickmarks(int n);
    /// Number of ticks (rebuilds the set first when outdated).
    int nTickMarks();
    /// Label of tick i (rebuilds first); EAxisError for i out of range.
    QString tickmark_text(int i);
    /// Value and pixel of tick i of the set as last built (no rebuild).
    double tickmark_value(int i) const { return ftickmarks.at(i); }
    int tickmark_position(int i) const { return ftickmarkpositions.at(i); }

    /// Length of the axis in pixels (height of a vertical, width of a
    /// horizontal axis).
    int axis_length() const;
    bool is_vertical() const { return fposition == posleft || fposition == posright; }

    /// The limits dialog (owned).
    TAxisLimitForm* AxisLimitForm() const { return faxislimitform; }

    TNotifyEvent OnScaleChanging;
    TNotifyEvent OnScaleChanged;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

    /// Active drag: 0 none, 1 low end, 2 middle, 3 high end.
    int mousescroll_state() const { return mousescroll; }
    /// Whether the last paint drew the marker line.
    bool marker_is_drawn() const { return markerisdrawn; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void apply_autosize();
    /// Calls the handler with scalechangecalled set; clears it also when the
    /// handler raises.
    void guarded_notify(const TNotifyEvent& handler);
    void linear_tickmarks(int n, double lo, double hi);
    void logarithmic_tickmarks(int n, double lo, double hi);
    void thin_labels(int n);
    int along(const QPointF& p) const;
    void drag_to(int& c);
    void update_cursor(int c);

    tposition fposition = posleft;
    bool flogarithmic = false;
    bool fMusicScale = false;
    bool ftimelabels = false;
    /// The tick set of time labels (see TimeLabels).
    void time_tickmarks(int n, double lo, double hi);
    double flovalue = 0;
    double fhivalue = 0;
    bool fshowtickmarks = false;
    int fntickmarks = 0;
    std::vector<double> ftickmarks;
    std::vector<int> ftickmarkpositions;
    QStringList ftickmarktext;
    int ftickmarksize = 0;
    int ftickspaceaim = 0;
    QColor fbackgroundcolor;
    bool fbackgroundset = false;  // else the palette's button colour, as it changes
    QString faxistext;
    bool fallowloscroll = false, fallowhiscroll = false, fallowmidscroll = false, fallowdoubleclick = false;
    double fminlovalue = 0, fmaxlovalue = 0, fminhivalue = 0, fmaxhivalue = 0;
    double fminvaluedifference = 0, fmaxvaluedifference = 0;
    bool freverse = false;
    bool fautosize = false;
    bool ticksdirty = false;
    int axistextposition = 0;
    int downpos = 0;
    int mousescroll = 0;
    double downlovalue = 0, downhivalue = 0;
    bool scalechangecalled = false;
    bool fmarkervisible = false;
    double fmarkervalue = 0;
    TAxisLimitForm* faxislimitform = nullptr;
    bool markerisdrawn = false;
    bool fisinteger = false;
    std::vector<bool> occupied;
};

}  // namespace wavrell
