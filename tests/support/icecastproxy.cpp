#include "icecastproxy.h"

#include <QTcpSocket>

#include <memory>

namespace {

const QByteArray metadataRequest("GET /admin/metadata");

// Bytes from one side go to the other; when one side closes, the other is
// closed once everything has been written.
void pipe(QTcpSocket *from, QTcpSocket *to)
{
    QObject::connect(from, &QTcpSocket::readyRead, to, [from, to] { to->write(from->readAll()); });
    QObject::connect(from, &QTcpSocket::disconnected, to, &QTcpSocket::disconnectFromHost);
}

} // namespace

bool IcecastProxy::listen(quint16 serverPort)
{
    m_serverPort = serverPort;
    connect(&m_server, &QTcpServer::newConnection, this, &IcecastProxy::accept, Qt::UniqueConnection);
    if (!m_server.listen(QHostAddress::LocalHost, m_port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

void IcecastProxy::accept()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        client->setParent(this);
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        auto firstBytes = std::make_shared<QMetaObject::Connection>();
        *firstBytes = connect(client, &QTcpSocket::readyRead, this, [this, client, buffer, firstBytes] {
            buffer->append(client->readAll());
            const bool metadata = buffer->startsWith(metadataRequest);
            if (buffer->size() < metadataRequest.size() && metadataRequest.startsWith(*buffer))
                return;
            if (metadata && !buffer->contains("\r\n\r\n"))
                return;
            disconnect(*firstBytes);
            if (metadata)
                handleMetadataRequest(client, *buffer);
            else
                passOn(client, *buffer);
        });
    }
}

void IcecastProxy::dropConnections()
{
    // The connection to the server is a child of its client and goes with it.
    for (QTcpSocket *client : findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly)) {
        client->abort();
        client->deleteLater();
    }
}

void IcecastProxy::handleMetadataRequest(QTcpSocket *client, const QByteArray &head)
{
    metadataRequests.append(head.left(head.indexOf("\r\n\r\n")));
    switch (m_mode) {
    case MetadataMode::PassOn:
        passOn(client, head);
        break;
    case MetadataMode::Refuse:
        client->write("HTTP/1.0 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
        client->disconnectFromHost();
        break;
    case MetadataMode::NeverAnswer:
        break;
    }
}

void IcecastProxy::passOn(QTcpSocket *client, const QByteArray &received)
{
    // Written while connecting, the socket keeps the bytes until it is connected.
    auto *server = new QTcpSocket(client);
    server->connectToHost(QHostAddress::LocalHost, m_serverPort);
    server->write(received);
    pipe(client, server);
    pipe(server, client);
    connect(server, &QTcpSocket::errorOccurred, client, [client](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::ConnectionRefusedError)
            client->disconnectFromHost();
    });
}
