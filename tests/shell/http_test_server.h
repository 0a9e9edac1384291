#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace wavrell::test {

/// A small HTTP/1.1 server on 127.0.0.1 in the test's own thread: it serves
/// one answer to every GET (while the test runs the event loop), at once or
/// after a delay, with or without a Content-Length; or it accepts and never
/// answers. Counts the requests and the answers sent.
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

    /// Every request gets this status and body, `delay_ms` after it came;
    /// without the length the end of the connection ends the body.
    void answer(int status, const QByteArray& body, int delay_ms = 0, bool with_length = true) {
        fstatus = status;
        fbody = body;
        fsilent = false;
        fdelay = delay_ms;
        flength = with_length;
    }
    /// Requests are read and never answered.
    void stay_silent() { fsilent = true; }

    QString url(const QString& path = QStringLiteral("/wavrell/wavrellversion.txt")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(fserver.serverPort()).arg(path);
    }
    int requests() const { return frequests; }
    int answers() const { return fanswers; }
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
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(fstatus) + " " + reason + "\r\nContent-Type: text/plain\r\n";
        if (flength) reply += "Content-Length: " + QByteArray::number(fbody.size()) + "\r\n";
        reply += "Connection: close\r\n\r\n" + fbody;
        auto send = [this, reply, socket = QPointer<QTcpSocket>(s)] {
            if (!socket) return;
            ++fanswers;
            socket->write(reply);
            socket->disconnectFromHost();
        };
        if (fdelay > 0)
            QTimer::singleShot(fdelay, this, send);
        else
            send();
    }

    QTcpServer fserver;
    QList<QPointer<QTcpSocket>> fsockets;
    QHash<QTcpSocket*, QByteArray> fpending;
    int fstatus = 200;
    QByteArray fbody;
    bool fsilent = false;
    int fdelay = 0;
    bool flength = true;
    int frequests = 0;
    int fanswers = 0;
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
