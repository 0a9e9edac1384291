#include "shell/http_get.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace wavrell {

THttpGet::THttpGet(QNetworkAccessManager& client, const QUrl& url, int timeout_ms, qint64 max_bytes,
                   QObject* parent)
    : QObject(parent), furl(url), fmaxbytes(max_bytes), ftimeout(timeout_ms) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    freply = client.get(request);
    // Qt reads no more from the connection than fits the buffer, so a large
    // answer is never taken in whole.
    freply->setReadBufferSize(max_bytes + 1);
    connect(freply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = freply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > fmaxbytes) fail(QStringLiteral("the answer is too large"));
    });
    connect(freply, &QIODevice::readyRead, this, [this] { read_some(); });
    connect(freply, &QNetworkReply::finished, this, [this] { finished(); });
    ftimer.setSingleShot(true);
    connect(&ftimer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("no answer within %1 s").arg(ftimeout / 1000.0, 0, 'g', 3));
    });
    ftimer.start(timeout_ms);
}

THttpGet::~THttpGet() { cancel(); }

void THttpGet::cancel() {
    ftimer.stop();
    if (!freply) return;
    QNetworkReply* reply = freply;
    freply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void THttpGet::read_some() {
    if (!freply) return;
    fbody += freply->read(fmaxbytes + 1 - fbody.size());
    if (fbody.size() > fmaxbytes) fail(QStringLiteral("the answer is too large"));
}

void THttpGet::finished() {
    if (!freply) return;
    if (freply->error() != QNetworkReply::NoError) {
        fail(freply->errorString());
        return;
    }
    read_some();
    if (!freply) return;
    end(true, QString::fromUtf8(fbody), {});
}

void THttpGet::fail(const QString& why) {
    end(false, {}, furl.toDisplayString() + QStringLiteral(": ") + why);
}

void THttpGet::end(bool ok, const QString& body, const QString& error) {
    cancel();
    if (OnDone) {
        // The handler may delete this object: it runs last.
        const Done done = std::move(OnDone);
        OnDone = nullptr;
        done(ok, body, error);
    }
}

}  // namespace wavrell
