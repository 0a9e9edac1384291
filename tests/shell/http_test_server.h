#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace wavrell::test {

/// A small HTTP/1.1 server on 127.0.0.1 in the test's own thread: it serves
/// one answer to every GET (served while the client waits in its local
/// event loop), or accepts and never answers. Counts the requests.
class HttpTestServer : public QObject {
public:
    HttpTestServer() {
        fserver.listen(QHostAddress::LocalHost, 0);
        connect(&fserver, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = fserver.nextPendingConnection()) {
                fsockets << s;
                connect(s, &QTcpSocket::readyRead, this, [this, s] { serve(s); });
            }
        });
    }

    /// Every request gets this status and body.
    void answer(int status, const QByteArray& body) {
        fstatus = status;
        fbody = body;
        fsilent = false;
    }
    /// Requests are read and never answered.
    void stay_silent() { fsilent = true; }

    QString url(const QString& path = QStringLiteral("/wavrell/wavrellversion.txt")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(fserver.serverPort()).arg(path);
    }
    int requests() const { return frequests; }
    QByteArray last_request() const { return flast; }

private:
    void serve(QTcpSocket* s) {
        QByteArray& buffer = fpending[s];
        buffer += s->readAll();
        if (!buffer.contains("\r\n\r\n")) return;
        ++frequests;
        flast = buffer;
        buffer.clear();
        if (fsilent) return;
        const QByteArray reason = fstatus == 200 ? "OK" : "Not Found";
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(fstatus) + " " + reason +
                           "\r\nContent-Type: text/plain\r\nContent-Length: " +
                           QByteArray::number(fbody.size()) + "\r\nConnection: close\r\n\r\n" + fbody;
        s->write(reply);
        s->disconnectFromHost();
    }

    QTcpServer fserver;
    QList<QPointer<QTcpSocket>> fsockets;
    QHash<QTcpSocket*, QByteArray> fpending;
    int fstatus = 200;
    QByteArray fbody;
    bool fsilent = false;
    int frequests = 0;
    QByteArray flast;
};

/// An address on 127.0.0.1 where nothing listens (connections are refused).
inline QString refused_url() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/wavrell/wavrellversion.txt").arg(port);
}

}  // namespace wavrell::test
