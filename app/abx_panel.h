#pragma once

#include <QDockWidget>

class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace wavrell {

class TAbxTest;

/// The blind test's panel, docked under the waveform area and not modal:
/// the trial, what is being heard ("A", "B", "X" or nothing), the buttons of
/// the test's commands, the score (or that it is hidden until the end), the
/// planned number of trials, "Hide score until the end", "New test",
/// "Save log..." and "End test". It shows the test; the window runs it.
/// GUI thread.
class TAbxPanel : public QDockWidget {
public:
    /// play: the actions of A, B and X; answer: those of "X is A" and "X is B".
    TAbxPanel(QWidget* parent, TAbxTest& test, QAction* const (&play)[3], QAction* const (&answer)[2]);

    /// Shows the test's state; `heard` is "A", "B", "X" or empty.
    void show_state(const QString& heard);

    QLabel* triallabel = nullptr;
    QLabel* heardlabel = nullptr;
    QLabel* scorelabel = nullptr;
    QSpinBox* trialsbox = nullptr;
    QCheckBox* hidescore = nullptr;
    QPushButton* newtest = nullptr;
    QPushButton* savelog = nullptr;
    QPushButton* endtest = nullptr;

private:
    TAbxTest& ftest;
};

}  // namespace wavrell
