#pragma once

#include <QByteArrayList>
#include <QTcpServer>

// A loopback front door of an Icecast server. A source connects through it as
// if it were the server, byte for byte (TLS too), to the server port of the
// moment of its arrival. Plain metadata requests are recorded as they arrive
// and, by mode, passed on, refused with an HTTP error or never answered.
class IcecastProxy : public QObject
{
public:
    enum class MetadataMode { PassOn, Refuse, NeverAnswer };

    bool listen(quint16 serverPort);
    quint16 port() const { return m_port; }
    // Later connections go to another server.
    void setServerPort(quint16 serverPort) { m_serverPort = serverPort; }
    // Stops taking connections; those already passed on go on.
    void closeDoor() { m_server.close(); }
    void setMetadataMode(MetadataMode mode) { m_mode = mode; }
    // Cuts every connection passed on, as a failing network does.
    void dropConnections();
    // The head (request line and headers) of each metadata request.
    QByteArrayList metadataRequests;

private:
    void accept();
    void handleMetadataRequest(QTcpSocket *client, const QByteArray &head);
    void passOn(QTcpSocket *client, const QByteArray &received);

    QTcpServer m_server;
    quint16 m_serverPort = 0;
    quint16 m_port = 0;
    MetadataMode m_mode = MetadataMode::PassOn;
};
