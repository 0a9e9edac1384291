#pragma once

#include "common/errors.h"

#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace wavrell {

/// A download that failed: no connection, an error status, no answer in time.
WAVRELL_DECLARE_ERROR(EDownloadError);

/// Fetches `url` with an HTTP GET and returns the reply body as UTF-8 text.
/// Blocks the calling (GUI) thread in a local event loop that leaves user
/// input queued; gives up after `timeout_ms` milliseconds in all. Raises
/// EDownloadError naming the address on any failure.
QString http_get(QNetworkAccessManager& client, const QUrl& url, int timeout_ms);

}  // namespace wavrell
