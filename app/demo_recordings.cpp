#include "app/demo_recordings.h"

#include "common/install_layout.h"

#include <QDir>
#include <QFileInfo>

namespace wavrell {

QStringList find_demo_recordings(const QString& program_path) {
    const QString dir = QFileInfo(program_path).absolutePath() + QLatin1Char('/');
    for (const QLatin1String folder : {QLatin1String(demo_dir_from_program), QLatin1String("demo")}) {
        QStringList files;
        for (const char* name : {"wavrell-demo-original.wav", "wavrell-demo-loud.wav"})
            files << QDir::cleanPath(dir + folder + QLatin1Char('/') + QLatin1String(name));
        if (QFileInfo(files[0]).isFile() && QFileInfo(files[1]).isFile()) return files;
    }
    return {};
}

}  // namespace wavrell
