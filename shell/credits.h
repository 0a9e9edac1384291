#pragma once

#include <QList>
#include <QString>

#include <functional>

class QDialog;
class QWidget;

namespace wavrell {

/// A library the program is built on, with its licence.
struct TCredit {
    QString name;     ///< e.g. "FFTW 3"
    QString purpose;  ///< what the program uses it for
    QString licence;  ///< in words, with the SPDX identifier
};

/// The libraries of this program: Qt, the PulseAudio client library,
/// libsndfile, libsoxr, FFTW and libebur128.
const QList<TCredit>& program_credits();

/// Replaces the modal run of the Credits dialog (tests inspect and close it
/// without a person); an empty hook restores the real run.
void set_credits_show_hook(std::function<void(QDialog& dialog)> hook);

/// Shows the "Credits" dialog over `parent`: a sentence, then a table of
/// the credits (library, used for, licence) whose text can be selected.
/// Returns when it is closed. GUI thread.
void show_credits(QWidget* parent, const QList<TCredit>& credits);

}  // namespace wavrell
