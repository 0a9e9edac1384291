#pragma once

#include "common/errors.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

namespace wavrell {

/// A download that failed: no connection, an error status, no answer in
/// time, an answer larger than allowed.
WAVRELL_DECLARE_ERROR(EDownloadError);

/// An HTTP GET of one small text file that runs while the event loop goes
/// on: the caller's thread never waits for it. At most `max_bytes` of the
/// answer are read; a larger answer, an error status, a failed connection
/// or no complete answer within `timeout_ms` makes the download fail. When
/// it ends, OnDone is called once (from the event loop) with the body as
/// UTF-8 text, or with an empty text and the reason, naming the address.
/// cancel() (and destroying the object) ends it without calling OnDone.
/// The reply belongs to this object. GUI thread.
class THttpGet : public QObject {
public:
    using Done = std::function<void(bool ok, const QString& body, const QString& error)>;

    THttpGet(QNetworkAccessManager& client, const QUrl& url, int timeout_ms, qint64 max_bytes,
             QObject* parent = nullptr);
    ~THttpGet() override;

    /// Set before the event loop runs again after construction.
    Done OnDone;

    bool running() const { return freply != nullptr; }
    void cancel();

private:
    void read_some();
    void finished();
    void fail(const QString& why);
    void end(bool ok, const QString& body, const QString& error);

    QNetworkReply* freply = nullptr;
    QTimer ftimer;
    QUrl furl;
    qint64 fmaxbytes;
    int ftimeout;
    QByteArray fbody;
};

}  // namespace wavrell
