#include "app/info_lines_view.h"

#include <QFontMetrics>
#include <QLabel>

#include <algorithm>
#include <limits>

namespace wavrell {

TInfoLinesView::TInfoLinesView(std::array<QLabel*, 2> labels) : flabels(labels) {
    for (QLabel* l : flabels) {
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // Selected with the mouse, copied with Ctrl+C or the label's menu;
        // every other key goes on to the window.
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setText(QStringLiteral("-"));
    }
}

void TInfoLinesView::set_lines(int slot, const QString& levels, const QString& name, const QString& notes,
                               const QStringList& more) {
    flines[size_t(slot)] = {levels, name, notes, more};
    QLabel* l = flabels[size_t(slot)];
    l->setText(text_at(slot, l->width()));
    // The whole text, also where the name is shortened.
    l->setToolTip(name.isEmpty() ? QString() : text_at(slot, std::numeric_limits<int>::max()));
}

QString TInfoLinesView::text_at(int slot, int width) const {
    const Lines& s = flines[size_t(slot)];
    if (s.name.isEmpty() && s.levels.isEmpty()) return QStringLiteral("-");
    const QFontMetrics fm(flabels[size_t(slot)]->font());
    // A word longer than the line would overflow it: only the file name can
    // be one.
    const int room = std::max(1, width - 2 * flabels[size_t(slot)]->margin());
    const QString name = fm.horizontalAdvance(s.name) > room ? fm.elidedText(s.name, Qt::ElideMiddle, room) : s.name;
    QStringList lines{s.levels.trimmed(), name + s.notes};
    lines += s.more;
    return lines.join(QLatin1Char('\n'));
}

int TInfoLinesView::height_for(int slot, int width) const {
    QLabel* l = flabels[size_t(slot)];
    const QString text = text_at(slot, width);
    const QFontMetrics fm(l->font());
    const QRect r = fm.boundingRect(QRect(0, 0, std::max(1, width), 1 << 20), Qt::TextWordWrap, text);
    // The label lays its text out itself: whichever needs more counts.
    if (l->text() != text) l->setText(text);
    return std::max({r.height() + 2 * l->margin(), fm.height(), l->heightForWidth(std::max(1, width))});
}

int TInfoLinesView::place(int slot, int x, int y, int width) {
    QLabel* l = flabels[size_t(slot)];
    const int h = height_for(slot, width);
    l->setGeometry(x, y, width, h);
    return h;
}

}  // namespace wavrell
