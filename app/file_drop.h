#pragma once

#include <QObject>
#include <QStringList>

class QMimeData;
class QWidget;

namespace wavrell {

class TForm19;

/// Files dropped on the window. A file dropped on file 1's waveform boxes,
/// crest factor boxes or information line loads into slot 0, on those of
/// file 2 into slot 1; two files dropped together (anywhere on the window)
/// load into slots 0 and 1 in the order given. Drags of anything but one or
/// two local files, and of one file outside the boxes of a file, are
/// refused (the cursor shows that nothing can be dropped). Owned by the
/// window, GUI thread.
class TFileDrop : public QObject {
public:
    explicit TFileDrop(TForm19* window);

    /// The local files a drag carries, in order; empty when it carries
    /// anything that is not a local file (a remote address, text, a folder).
    static QStringList local_files(const QMimeData* data);
    /// The slot a widget of the window belongs to for drops: 0 or 1 for
    /// the boxes and information line of file 1 or 2, -1 elsewhere.
    int slot_of(const QObject* widget) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TForm19* window;
};

}  // namespace wavrell
