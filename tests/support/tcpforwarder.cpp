#include "tcpforwarder.h"

#include <QTcpSocket>

namespace {

// Bytes from one side go to the other; when one side closes, the other is
// closed once everything has been written.
void pipe(QTcpSocket *from, QTcpSocket *to)
{
    QObject::connect(from, &QTcpSocket::readyRead, to, [from, to] { to->write(from->readAll()); });
    QObject::connect(from, &QTcpSocket::disconnected, to, &QTcpSocket::disconnectFromHost);
}

} // namespace

bool TcpForwarder::listen(quint16 targetPort)
{
    m_targetPort = targetPort;
    connect(&m_server, &QTcpServer::newConnection, this, &TcpForwarder::accept);
    return m_server.listen(QHostAddress::LocalHost);
}

void TcpForwarder::accept()
{
    // Both sockets live as long as the server, which owns the client: a test
    // makes a few connections only.
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        // Written before the connection is up, bytes wait in the socket.
        auto *target = new QTcpSocket(client);
        target->connectToHost(QHostAddress::LocalHost, m_targetPort);
        pipe(client, target);
        pipe(target, client);
        connect(target, &QTcpSocket::errorOccurred, client, [client](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::ConnectionRefusedError)
                client->disconnectFromHost();
        });
    }
}
