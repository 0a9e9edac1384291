#include "app/window_title.h"

#include <QFileInfo>
#include <QStringList>

namespace wavrell {

QString window_title(const QString& file1, const QString& file2) {
    QStringList names;
    for (const QString& f : {file1, file2})
        if (!f.isEmpty()) names << QFileInfo(f).fileName();
    const QString program = QStringLiteral("Wavrell");
    if (names.isEmpty()) return program;
    return names.join(QStringLiteral(" vs ")) + QStringLiteral(" \u2014 ") + program;
}

}  // namespace wavrell
