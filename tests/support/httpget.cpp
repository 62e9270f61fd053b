#include "httpget.h"

#include <QDeadlineTimer>
#include <QSslConfiguration>
#include <QSslSocket>

#include <memory>

namespace {

// A plain socket for "http", a verified TLS one for "https"; none when the
// connection fails.
std::unique_ptr<QTcpSocket> connectedSocket(const QUrl &url, const TlsTrust &trust, const QDeadlineTimer &deadline)
{
    if (url.scheme() != QLatin1String("https")) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(url.host(), quint16(url.port(80)));
        if (!socket->waitForConnected(int(deadline.remainingTime())))
            return nullptr;
        return socket;
    }
    auto socket = std::make_unique<QSslSocket>();
    QSslConfiguration configuration = socket->sslConfiguration();
    configuration.setCaCertificates(trust.authorities);
    socket->setSslConfiguration(configuration);
    socket->connectToHostEncrypted(url.host(), quint16(url.port(443)),
                                   trust.peerName.isEmpty() ? url.host() : trust.peerName);
    if (!socket->waitForEncrypted(int(deadline.remainingTime())))
        return nullptr;
    return socket;
}

// Sends the request and reads until the server closes or the deadline passes.
QByteArray exchange(const QUrl &url, const QByteArray &authorization, const TlsTrust &trust,
                    const QDeadlineTimer &deadline)
{
    const std::unique_ptr<QTcpSocket> connection = connectedSocket(url, trust, deadline);
    if (!connection)
        return QByteArray();
    QTcpSocket &socket = *connection;
    QByteArray request = "GET " + url.path(QUrl::FullyEncoded).toLatin1();
    if (url.hasQuery())
        request += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    request += " HTTP/1.0\r\nHost: " + url.host().toLatin1() + "\r\n";
    if (!authorization.isEmpty())
        request += "Authorization: Basic " + authorization.toBase64() + "\r\n";
    request += "\r\n";
    socket.write(request);
    QByteArray received;
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 100)));
        received += socket.readAll();
    }
    return received + socket.readAll();
}

} // namespace

HttpReply httpGet(const QUrl &url, int timeoutMs, const QByteArray &user, const QByteArray &password,
                  const TlsTrust &trust)
{
    const QByteArray authorization = user.isEmpty() ? QByteArray() : user + ':' + password;
    const QByteArray response = exchange(url, authorization, trust, QDeadlineTimer(timeoutMs));
    const int headerEnd = response.indexOf("\r\n\r\n");
    HttpReply reply;
    if (headerEnd < 0)
        return reply;
    reply.status = response.left(response.indexOf("\r\n")).split(' ').value(1).toInt();
    reply.body = response.mid(headerEnd + 4);
    return reply;
}

QByteArray httpReceive(const QUrl &url, int durationMs, const TlsTrust &trust)
{
    const QByteArray response = exchange(url, QByteArray(), trust, QDeadlineTimer(durationMs));
    const int headerEnd = response.indexOf("\r\n\r\n");
    return headerEnd < 0 ? QByteArray() : response.mid(headerEnd + 4);
}
