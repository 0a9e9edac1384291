#pragma once

#include <QString>
#include <QStringList>

#include <array>

class QLabel;

namespace wavrell {

/// The information lines of the two files, one label above each file's
/// waveform boxes: the levels with the loudness fields on the first line,
/// the file name with its notes (rate, alignment) on the second, and any
/// further lines (the loop range's levels) below. The lines wrap at word
/// boundaries to the width the window gives, so nothing is cut off at any
/// width or scale, and the text stays selectable and copyable; only a file
/// name wider than the whole label is shortened, in its middle, and then
/// shows whole in the label's hint. GUI thread.
class TInfoLinesView {
public:
    explicit TInfoLinesView(std::array<QLabel*, 2> labels);

    /// The lines of a slot: `levels`, then `name` followed by `notes`, then
    /// `more` (each a line). A slot without a file shows "-".
    void set_lines(int slot, const QString& levels, const QString& name, const QString& notes,
                   const QStringList& more = {});
    /// Puts a slot's label at (x, y), `width` wide and as high as its
    /// wrapped lines need; returns that height.
    int place(int slot, int x, int y, int width);
    /// The height the slot's lines need at `width` (the label takes the
    /// text for that width).
    int height_for(int slot, int width) const;

private:
    /// The label's text at `width`: the name shortened in its middle when
    /// it alone is wider than that.
    QString text_at(int slot, int width) const;

    struct Lines {
        QString levels, name, notes;
        QStringList more;
    };
    std::array<QLabel*, 2> flabels;
    std::array<Lines, 2> flines;
};

}  // namespace wavrell
