#include "shell/http_get.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace wavrell {

QString http_get(QNetworkAccessManager& client, const QUrl& url, int timeout_ms) {
    QNetworkRequest request(url);
    std::unique_ptr<QNetworkReply> reply(client.get(request));
    bool timedOut = false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
        loop.quit();
    });
    timer.start(timeout_ms);
    if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    timer.stop();

    const QString where = url.toDisplayString();
    if (timedOut)
        throw EDownloadError(QStringLiteral("%1: no answer within %2 s")
                                 .arg(where)
                                 .arg(timeout_ms / 1000.0, 0, 'g', 3));
    if (reply->error() != QNetworkReply::NoError)
        throw EDownloadError(where + QStringLiteral(": ") + reply->errorString());
    return QString::fromUtf8(reply->readAll());
}

}  // namespace wavrell
