#include "httpget.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

namespace {

// Sends the request and reads until the server closes or the deadline passes.
QByteArray exchange(const QUrl &url, const QByteArray &authorization, const QDeadlineTimer &deadline)
{
    QTcpSocket socket;
    socket.connectToHost(url.host(), quint16(url.port(80)));
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return QByteArray();
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

HttpReply httpGet(const QUrl &url, int timeoutMs, const QByteArray &user, const QByteArray &password)
{
    const QByteArray authorization = user.isEmpty() ? QByteArray() : user + ':' + password;
    const QByteArray response = exchange(url, authorization, QDeadlineTimer(timeoutMs));
    const int headerEnd = response.indexOf("\r\n\r\n");
    HttpReply reply;
    if (headerEnd < 0)
        return reply;
    reply.status = response.left(response.indexOf("\r\n")).split(' ').value(1).toInt();
    reply.body = response.mid(headerEnd + 4);
    return reply;
}

QByteArray httpReceive(const QUrl &url, int durationMs)
{
    const QByteArray response = exchange(url, QByteArray(), QDeadlineTimer(durationMs));
    const int headerEnd = response.indexOf("\r\n\r\n");
    return headerEnd < 0 ? QByteArray() : response.mid(headerEnd + 4);
}
