#include "plot/axis_limit_form.h"

#include "common/errors.h"
#include "common/number_text.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <cmath>

namespace wavrell {

std::function<void(TAxisLimitForm&)> TAxisLimitForm::ModalHook;

TAxisLimitForm::TAxisLimitForm(QWidget* owner) : QObject(owner) {
    // A top-level dialog window that lives as long as the axis owning it.
    fform = new QDialog(owner);
    fform->setWindowTitle(QStringLiteral("Axis limits"));
    // The window measures 182 x 165 pixels with its frame at 893, 241 (it is
    // centred when shown); Qt sizes the client area, which is what a dialog
    // frame of 4-pixel borders and a 26-pixel caption leaves of that.
    fform->move(893, 241);
    fform->setFixedSize(182 - 2 * 4, 165 - 2 * 4 - 26);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    fform->setFont(font);

    fLabel1 = new QLabel(QStringLiteral("High value"), fform);
    fLabel1->setGeometry(8, 4, 51, 13);
    fEdit1 = new QLineEdit(QStringLiteral("High"), fform);
    fEdit1->setGeometry(4, 20, 157, 21);
    fLabel2 = new QLabel(QStringLiteral("Low value"), fform);
    fLabel2->setGeometry(8, 48, 49, 13);
    fEdit2 = new QLineEdit(QStringLiteral("Low"), fform);
    fEdit2->setGeometry(4, 64, 157, 21);
    fButton1 = new QPushButton(QStringLiteral("&Ok"), fform);
    fButton1->setGeometry(4, 96, 75, 25);
    fButton1->setDefault(true);
    fButton1->setAutoDefault(true);
    fButton2 = new QPushButton(QStringLiteral("&Cancel"), fform);
    fButton2->setGeometry(88, 96, 75, 25);
    fButton2->setAutoDefault(false);
    // Captions size themselves to their text, also in a fall-back font.
    fLabel1->adjustSize();
    fLabel2->adjustSize();
    QWidget::setTabOrder(fEdit1, fEdit2);
    QWidget::setTabOrder(fEdit2, fButton1);
    QWidget::setTabOrder(fButton1, fButton2);

    connect(fButton1, &QPushButton::clicked, this, [this] {
        okclicked = true;
        fform->accept();
    });
    // Escape closes a QDialog through reject(), which leaves okclicked clear
    // like the Cancel button.
    connect(fButton2, &QPushButton::clicked, this, [this] {
        okclicked = false;
        fform->reject();
    });
}

TAxisLimitForm::~TAxisLimitForm() = default;

bool TAxisLimitForm::showmodal() {
    okclicked = false;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = fform->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        fform->move(frame.topLeft());
    }
    fEdit1->setFocus();
    if (ModalHook)
        ModalHook(*this);
    else
        fform->exec();
    if (fform->isVisible()) fform->hide();
    return okclicked;
}

namespace {

double read_edit(const QLineEdit* edit, double shown) {
    try {
        const double v = text_to_float(edit->text());
        // "inf" or "nan" would make every mapping of the axis meaningless.
        return std::isfinite(v) ? v : shown;
    } catch (const Exception&) {
        return shown;
    }
}

}  // namespace

double TAxisLimitForm::loval() const { return read_edit(fEdit2, flovalue); }
double TAxisLimitForm::hival() const { return read_edit(fEdit1, fhivalue); }

void TAxisLimitForm::setloval(double v) {
    fEdit2->setText(general_float_text(v));
    flovalue = v;
}

void TAxisLimitForm::sethival(double v) {
    fEdit1->setText(general_float_text(v));
    fhivalue = v;
}

void TAxisLimitForm::set_unit_text(const QString& unit) {
    fLabel1->setText(QStringLiteral("High value ") + unit);
    fLabel2->setText(QStringLiteral("Low value ") + unit);
    fLabel1->adjustSize();
    fLabel2->adjustSize();
}

}  // namespace wavrell
