#include "shell/url_opener.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace wavrell {

namespace {
std::function<bool(const QUrl&)>& opener() {
    static std::function<bool(const QUrl&)> h;
    return h;
}
}  // namespace

bool open_url(const QUrl& url) {
    if (opener()) return opener()(url);
    return QDesktopServices::openUrl(url);
}

void set_url_opener(std::function<bool(const QUrl&)> h) { opener() = std::move(h); }

QUrl command_url(const QString& command) {
    const QString text = command.trimmed();
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty()) return url;
    return QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath());
}

}  // namespace wavrell
