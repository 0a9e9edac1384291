#include "shell/credits.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace wavrell {

namespace {
std::function<void(QDialog&)>& show_hook() {
    static std::function<void(QDialog&)> h;
    return h;
}
}  // namespace

const QList<TCredit>& program_credits() {
    static const QList<TCredit> credits{
        {QStringLiteral("Qt 6"), QStringLiteral("window, settings, network"),
         QStringLiteral("GNU LGPL version 3 (LGPL-3.0-only), or GNU GPL version 2 or 3")},
        {QStringLiteral("libpulse"), QStringLiteral("playback through PulseAudio or PipeWire"),
         QStringLiteral("GNU LGPL version 2.1 or later (LGPL-2.1-or-later)")},
        {QStringLiteral("libsndfile"), QStringLiteral("reading FLAC, Ogg, Opus, MP3 and other formats"),
         QStringLiteral("GNU LGPL version 2.1 or later (LGPL-2.1-or-later)")},
        {QStringLiteral("libsoxr"), QStringLiteral("sampling-rate conversion"),
         QStringLiteral("GNU LGPL version 2.1 or later (LGPL-2.1-or-later)")},
        {QStringLiteral("FFTW 3"), QStringLiteral("Fourier transforms of the alignment"),
         QStringLiteral("GNU GPL version 2 or later (GPL-2.0-or-later)")},
        {QStringLiteral("libebur128"), QStringLiteral("loudness and true peak (EBU R 128)"),
         QStringLiteral("MIT licence (MIT)")},
    };
    return credits;
}

void set_credits_show_hook(std::function<void(QDialog&)> hook) { show_hook() = std::move(hook); }

void show_credits(QWidget* parent, const QList<TCredit>& credits) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("credits"));
    dialog.setWindowTitle(QStringLiteral("Credits"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* intro = new QLabel(
        QStringLiteral("Wavrell is free software under the GNU GPL, version 3 or later. It is built on these "
                       "libraries, each under its own licence:"),
        &dialog);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* table = new QTableWidget(int(credits.size()), 3, &dialog);
    table->setObjectName(QStringLiteral("creditstable"));
    table->setHorizontalHeaderLabels({QStringLiteral("Library"), QStringLiteral("Used for"), QStringLiteral("Licence")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::ContiguousSelection);
    table->setWordWrap(false);
    for (int row = 0; row < credits.size(); ++row) {
        const TCredit& c = credits[row];
        const QString cells[] = {c.name, c.purpose, c.licence};
        for (int col = 0; col < 3; ++col) table->setItem(row, col, new QTableWidgetItem(cells[col]));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    int width = table->verticalHeader()->width() + 2 * table->frameWidth();
    for (int col = 0; col < 3; ++col) width += table->columnWidth(col);
    int height = table->horizontalHeader()->height() + 2 * table->frameWidth();
    for (int row = 0; row < credits.size(); ++row) height += table->rowHeight(row);
    table->setMinimumSize(width + 4, height + 4);
    layout->addWidget(table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);

    if (show_hook())
        show_hook()(dialog);
    else
        dialog.exec();
}

}  // namespace wavrell
