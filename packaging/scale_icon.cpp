// Writes the program icon at another size for the desktop's icon theme.
// Usage: wavrell_scale_icon IN.png SIZE OUT.png
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IN.png SIZE OUT.png\n", argv[0]);
        return 2;
    }
    const QImage in(QString::fromLocal8Bit(argv[1]));
    const int size = std::atoi(argv[2]);
    if (in.isNull() || size <= 0) {
        std::fprintf(stderr, "%s: cannot read the icon %s or use the size %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    const QImage out = in.convertToFormat(QImage::Format_ARGB32)
                           .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!out.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
