#include "shell/fjelm_about.h"

#include "shell/program_icon.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QtEndian>

namespace wavrell {

namespace {
uint32_t u32(const QByteArray& b, int at) { return qFromLittleEndian<uint32_t>(b.constData() + at); }
uint16_t u16(const QByteArray& b, int at) { return qFromLittleEndian<uint16_t>(b.constData() + at); }

constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t BI_ALPHABITFIELDS = 6;
}  // namespace

QByteArray bitmap_file_image(const QByteArray& dib) {
    if (dib.size() < 12) return {};
    const uint32_t headerSize = u32(dib, 0);
    qint64 colours = 0, masks = 0, entrySize = 4;
    int bitCount = 0;
    if (headerSize == 12) {  // core header: 16-bit sizes, 3-byte palette entries
        bitCount = u16(dib, 10);
        entrySize = 3;
        colours = bitCount <= 8 ? (1 << bitCount) : 0;
    } else if (headerSize >= 40 && dib.size() >= 40) {
        bitCount = u16(dib, 14);
        const uint32_t compression = u32(dib, 16);
        const uint32_t used = u32(dib, 32);
        colours = used ? used : (bitCount <= 8 ? (1 << bitCount) : 0);
        if (headerSize == 40 && compression == BI_BITFIELDS) masks = 12;
        if (headerSize == 40 && compression == BI_ALPHABITFIELDS) masks = 16;
    } else {
        return {};
    }
    const qint64 offset = 14 + qint64(headerSize) + masks + colours * entrySize;
    const qint64 total = 14 + qint64(dib.size());
    if (offset > total || total > 0xFFFFFFFFll) return {};

    QByteArray file(14, '\0');
    file[0] = 'B';
    file[1] = 'M';
    qToLittleEndian<uint32_t>(uint32_t(total), file.data() + 2);
    qToLittleEndian<uint32_t>(uint32_t(offset), file.data() + 10);
    return file + dib;
}

TFjelmAbout::TFjelmAbout(QObject* owner) : TAbout(owner) {
    setCopyright(QStringLiteral("Copyright \u00A9 20xx Fjelm"));
    refresh();
}

void TFjelmAbout::refresh() {
    show_values();
    fjelmlabel->setText(QStringLiteral("A Fjelm application"));
    fjelmlabel->setVisible(fshowafjelm);
    make_version_text();
}

void TFjelmAbout::Loaded() {
    TAbout::Loaded();
    refresh();
    load_picture();
}

void TFjelmAbout::load_picture() {
    ensure_shell_resources();
    QFile resource(QStringLiteral(":/shell/FJELMBMP"));
    if (!resource.open(QIODevice::ReadOnly)) return;
    const QByteArray image = bitmap_file_image(resource.readAll());
    QImage picture;
    if (image.isEmpty() || !picture.loadFromData(image, "BMP")) return;
    if (fbmp256) {
        fjelmimage->setPixmap(QPixmap::fromImage(picture));
        fjelmimage->resize(picture.size());
    } else {
        fjelmimage->setPixmap(QPixmap::fromImage(picture.convertToFormat(QImage::Format_RGB32)));
        fjelmimage->resize(153, 225);
    }
}

}  // namespace wavrell
