#include "app/abx_panel.h"

#include "workspace/abx_test.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace wavrell {

TAbxPanel::TAbxPanel(QWidget* parent, TAbxTest& test, QAction* const (&play)[3], QAction* const (&answer)[2])
    : QDockWidget(QStringLiteral("Blind test (ABX)"), parent), ftest(test) {
    setObjectName(QStringLiteral("AbxPanel"));
    // It stays where it is: under the waveform area, never a window of its own.
    setFeatures(QDockWidget::NoDockWidgetFeatures);
    setAllowedAreas(Qt::BottomDockWidgetArea);

    auto* body = new QWidget(this);
    auto* rows = new QVBoxLayout(body);
    rows->setContentsMargins(6, 2, 6, 4);
    rows->setSpacing(3);
    auto* top = new QHBoxLayout;
    auto* bottom = new QHBoxLayout;
    rows->addLayout(top);
    rows->addLayout(bottom);

    triallabel = new QLabel(body);
    triallabel->setMinimumWidth(90);
    top->addWidget(triallabel);
    // The buttons carry the commands' keys in their hints; the keys work
    // anywhere in the window, so no button takes the keyboard focus.
    auto button = [body](QAction* a) {
        auto* b = new QToolButton(body);
        b->setDefaultAction(a);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    for (QAction* a : play) top->addWidget(button(a));
    heardlabel = new QLabel(body);
    heardlabel->setMinimumWidth(70);
    top->addWidget(heardlabel);
    for (QAction* a : answer) top->addWidget(button(a));
    scorelabel = new QLabel(body);
    top->addWidget(scorelabel, 1);

    bottom->addWidget(new QLabel(QStringLiteral("Trials:"), body));
    trialsbox = new QSpinBox(body);
    trialsbox->setRange(1, TAbxTest::kMaxTrials);
    trialsbox->setValue(16);
    trialsbox->setFocusPolicy(Qt::ClickFocus);
    bottom->addWidget(trialsbox);
    hidescore = new QCheckBox(QStringLiteral("Hide score until the end"), body);
    hidescore->setFocusPolicy(Qt::NoFocus);
    // A score seen during the test may sway the answers: hidden by default,
    // and the log says when it was shown.
    hidescore->setChecked(true);
    bottom->addWidget(hidescore);
    bottom->addStretch(1);
    newtest = new QPushButton(QStringLiteral("New test"), body);
    savelog = new QPushButton(QStringLiteral("Save log..."), body);
    endtest = new QPushButton(QStringLiteral("End test"), body);
    for (QPushButton* b : {newtest, savelog, endtest}) {
        b->setFocusPolicy(Qt::NoFocus);
        bottom->addWidget(b);
    }
    setWidget(body);
    connect(hidescore, &QCheckBox::toggled, this, [this] { show_state(heardlabel->property("heard").toString()); });
}

void TAbxPanel::show_state(const QString& heard) {
    heardlabel->setProperty("heard", heard);
    heardlabel->setText(heard.isEmpty() ? QStringLiteral("Playing: -") : QStringLiteral("Playing: ") + heard);
    if (!ftest.started()) {
        triallabel->setText(QString());
        scorelabel->setText(QString());
        return;
    }
    triallabel->setText(ftest.finished() ? QStringLiteral("Finished")
                                         : QStringLiteral("Trial %1 of %2").arg(ftest.trial()).arg(ftest.planned()));
    QString score;
    if (ftest.done() == 0)
        score = QStringLiteral("Which one is X? Press 1 for A, 2 for B.");
    else if (hidescore->isChecked() && !ftest.finished())
        score = QStringLiteral("%1 of %2 answered (score hidden until the end)").arg(ftest.done()).arg(ftest.planned());
    else {  // numbers shown use the user's decimal separator; the log keeps "."
        score = ftest.score_text().replace(QLatin1Char('.'), QLocale().decimalPoint());
        ftest.note_score_shown();
    }
    scorelabel->setText(score);
}

}  // namespace wavrell
