#pragma once

#include "shell/about.h"

#include <QByteArray>

namespace wavrell {

/// A complete bitmap file image: the 14-byte file header ("BM", total size,
/// offset of the pixel data behind header, palette and masks) in front of
/// raw device-independent bitmap data. Empty when `dib` is not such data.
QByteArray bitmap_file_image(const QByteArray& dib);

/// The About box with the brand line "A Fjelm application" and the program's
/// picture, loaded from the resource FJELMBMP in its load step. GUI thread.
class TFjelmAbout : public TAbout {
public:
    explicit TFjelmAbout(QObject* owner = nullptr);

    /// The TAbout load step, then refresh and the picture: with BMP256 in
    /// its own 256 colours at its own size, else converted to the display's
    /// format in the 153 x 225 frame.
    void Loaded() override;

protected:
    void refresh();

private:
    void load_picture();
};

}  // namespace wavrell
