#include "icecastproxy.h"

#include "icecastserver.h"

#include <QFile>
#include <QSslSocket>

#include <memory>

namespace {

// Icecast's /admin/metadata, and a Shoutcast server's /admin.cgi.
const QByteArray metadataRequest("GET /admin");

// Bytes from one side go to the other; when one side closes, the other is
// closed once everything has been written.
void pipe(QTcpSocket *from, QTcpSocket *to)
{
    QObject::connect(from, &QTcpSocket::readyRead, to, [from, to] { to->write(from->readAll()); });
    QObject::connect(from, &QTcpSocket::disconnected, to, &QTcpSocket::disconnectFromHost);
}

} // namespace

bool IcecastProxy::listen(quint16 target, const TestCertificate *certificate, quint16 port)
{
    m_serverPort = target;
    if (port != 0)
        m_port = port;
    if (certificate) {
        m_certificate = QSslCertificate::fromPath(certificate->certificateFile()).value(0);
        QFile key(certificate->keyFile());
        if (!key.open(QIODevice::ReadOnly))
            return false;
        m_key = QSslKey(&key, QSsl::Rsa);
    }
    if (!QTcpServer::listen(QHostAddress::LocalHost, m_port))
        return false;
    m_port = serverPort();
    return true;
}

void IcecastProxy::incomingConnection(qintptr descriptor)
{
    auto *client = new QSslSocket(this);
    if (!client->setSocketDescriptor(descriptor)) {
        delete client;
        return;
    }
    ++m_connections;
    connect(client, &QSslSocket::disconnected, this, [this, client] {
        ++m_closedConnections;
        client->deleteLater();
    });
    auto head = std::make_shared<QByteArray>();
    auto handled = std::make_shared<bool>(false);
    connect(client, &QSslSocket::readyRead, this, [this, client, head, handled] {
        const QByteArray bytes = client->readAll();
        if (*handled)
            m_received += bytes;
        else
            *handled = handle(client, head->append(bytes));
    });
    if (!m_certificate.isNull()) {
        client->setLocalCertificate(m_certificate);
        client->setPrivateKey(m_key);
        client->startServerEncryption();
    }
}

bool IcecastProxy::handle(QSslSocket *client, const QByteArray &head)
{
    if (head.size() < metadataRequest.size() && metadataRequest.startsWith(head))
        return false;
    const bool metadata = head.startsWith(metadataRequest);
    const Mode mode = metadata ? m_metadataMode : m_sourceMode;
    const int headEnd = head.indexOf(mode == Mode::RefusePassword ? "\r\n" : "\r\n\r\n");
    if (headEnd < 0 && (metadata || mode == Mode::Refuse || mode == Mode::RefusePassword))
        return false;
    if (metadata)
        metadataRequests.append(head.left(headEnd));
    if (mode == Mode::PassOn || mode == Mode::StopReading) {
        passOn(client, head, mode == Mode::StopReading);
        return true;
    }
    m_received += head;
    if (mode == Mode::Refuse) {
        client->write(metadata ? "HTTP/1.0 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"
                               : "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n");
        client->disconnectFromHost();
    } else if (mode == Mode::RefusePassword) {
        client->write("invalid password\r\n");
        client->disconnectFromHost();
    }
    return true;
}

void IcecastProxy::passOn(QSslSocket *client, const QByteArray &head, bool stopReading)
{
    // From here on the pipe reads the client, and nothing is kept.
    disconnect(client, &QSslSocket::readyRead, this, nullptr);
    // Written while connecting, the socket keeps the bytes until it is connected.
    auto *server = new QTcpSocket(client);
    server->connectToHost(QHostAddress::LocalHost, m_serverPort);
    server->write(head);
    pipe(client, server);
    pipe(server, client);
    if (stopReading) {
        connect(server, &QTcpSocket::readyRead, client, [client] {
            disconnect(client, &QTcpSocket::readyRead, nullptr, nullptr);
            client->setReadBufferSize(1);
        });
    }
    connect(server, &QTcpSocket::errorOccurred, client, [client](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::ConnectionRefusedError)
            client->disconnectFromHost();
    });
}

void IcecastProxy::dropConnections()
{
    // The connection to the server is a child of its client and goes with it.
    for (QSslSocket *client : findChildren<QSslSocket *>(QString(), Qt::FindDirectChildrenOnly)) {
        client->abort();
        client->deleteLater();
    }
}
