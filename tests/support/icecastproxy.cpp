#include "icecastproxy.h"

#include <QTcpSocket>

#include <memory>

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
        auto buffer = std::make_shared<QByteArray>();
        auto headReader = std::make_shared<QMetaObject::Connection>();
        *headReader = connect(client, &QTcpSocket::readyRead, this, [this, client, buffer, headReader] {
            buffer->append(client->readAll());
            if (!buffer->contains("\r\n\r\n"))
                return;
            disconnect(*headReader);
            handleHead(client, *buffer);
        });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    }
}

void IcecastProxy::handleHead(QTcpSocket *client, const QByteArray &head)
{
    if (!head.startsWith("GET /admin/metadata")) {
        passOn(client, head);
        return;
    }
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
    connect(client, &QTcpSocket::readyRead, server, [client, server] { server->write(client->readAll()); });
    connect(server, &QTcpSocket::readyRead, client, [client, server] { client->write(server->readAll()); });
    connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
    connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
    server->connectToHost(QHostAddress::LocalHost, m_serverPort);
    server->write(received);
}
