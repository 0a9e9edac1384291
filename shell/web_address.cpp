#include "shell/web_address.h"

#include <QStringList>

namespace wavrell {

namespace {

QString scheme_of(const QUrl& url) { return url.scheme().toLower(); }

/// The domain of a mailto address ("" when there is none).
QString mail_domain(const QUrl& url) {
    const QString address = url.path();
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    return at > 0 ? address.mid(at + 1).toLower() : QString();
}

}  // namespace

bool is_web_item_address(const QUrl& url) {
    if (!url.isValid()) return false;
    const QString scheme = scheme_of(url);
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) return !url.host().isEmpty();
    if (scheme == QLatin1String("mailto")) return !mail_domain(url).isEmpty();
    return false;
}

bool is_placeholder_address(const QUrl& url) {
    QString host = scheme_of(url) == QLatin1String("mailto") ? mail_domain(url) : url.host().toLower();
    while (host.endsWith(QLatin1Char('.'))) host.chop(1);
    if (host.isEmpty()) return false;
    // Names reserved for documentation and tests (RFC 2606, RFC 6761).
    static const QStringList reserved{QStringLiteral("example"), QStringLiteral("example.com"),
                                      QStringLiteral("example.net"), QStringLiteral("example.org"),
                                      QStringLiteral("test"), QStringLiteral("invalid")};
    for (const QString& r : reserved)
        if (host == r || host.endsWith(QLatin1Char('.') + r)) return true;
    return false;
}

}  // namespace wavrell
