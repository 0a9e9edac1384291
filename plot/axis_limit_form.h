#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;

namespace wavrell {

/// The small modal dialog in which the user types both ends of an axis
/// ("Axis limits"). Owned by its axis (Qt parent); built in code. GUI thread.
class TAxisLimitForm : public QObject {
    Q_OBJECT
public:
    explicit TAxisLimitForm(QWidget* owner);
    ~TAxisLimitForm() override;

    /// Shows the dialog modally; true when it was closed with OK.
    bool showmodal();

    /// Low end typed in "Low value"; text that is not a number gives the
    /// value last written with setloval.
    double loval() const;
    /// Writes v as general float text into "Low value" and remembers it.
    void setloval(double v);
    double hival() const;
    void sethival(double v);

    /// Relabels the captions as "High value <unit>" / "Low value <unit>".
    void set_unit_text(const QString& unit);

    /// Replaces the modal loop, so that tests answer the dialog without a
    /// person: when set, showmodal calls it (with the dialog ready to show)
    /// instead of running the dialog; it may fill the edits and press a
    /// button. Empty in the program.
    static std::function<void(TAxisLimitForm&)> ModalHook;

    QDialog* form() const { return fform; }
    QLabel* Label1() const { return fLabel1; }
    QLineEdit* Edit1() const { return fEdit1; }
    QLabel* Label2() const { return fLabel2; }
    QLineEdit* Edit2() const { return fEdit2; }
    QPushButton* Button1() const { return fButton1; }
    QPushButton* Button2() const { return fButton2; }

private:
    double flovalue = 0;
    double fhivalue = 0;
    bool okclicked = false;
    QDialog* fform = nullptr;
    QLabel* fLabel1 = nullptr;
    QLineEdit* fEdit1 = nullptr;
    QLabel* fLabel2 = nullptr;
    QLineEdit* fEdit2 = nullptr;
    QPushButton* fButton1 = nullptr;
    QPushButton* fButton2 = nullptr;
};

}  // namespace wavrell
