#pragma once

#include <QByteArrayList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

class QSslSocket;
class TestCertificate;

// The one loopback stand-in of the tests: a front door of an Icecast server,
// or a server of the test's own in its place. A request is looked at as it
// arrives: a plain metadata request once its head is complete, anything else
// (a source, TLS bytes) at once. Each kind, by its mode, is passed on byte for
// byte to the server port of the moment of its arrival, refused (a source with
// 401, as a wrong password is; a metadata request with 500) or never answered.
class IcecastProxy : public QTcpServer
{
public:
    // RefusePassword answers a Shoutcast source's first line as a Shoutcast
    // DNAS answers a wrong password. StopReading passes a source on until the
    // server has answered, then reads no more of it: its TCP window fills.
    enum class Mode { PassOn, Refuse, RefusePassword, NeverAnswer, StopReading };

    // With a certificate it speaks TLS itself, and so passes nothing on. On
    // the given port, or on a free one.
    bool listen(quint16 serverPort, const TestCertificate *certificate = nullptr, quint16 port = 0);
    // Also while the door is closed; listen() opens it again on the same port.
    quint16 port() const { return m_port; }
    // Later connections go to another server.
    void setServerPort(quint16 serverPort) { m_serverPort = serverPort; }
    // Stops taking connections; those already passed on go on.
    void closeDoor() { close(); }
    void setSourceMode(Mode mode) { m_sourceMode = mode; }
    void setMetadataMode(Mode mode) { m_metadataMode = mode; }
    // Cuts every connection, as a failing network does.
    void dropConnections();

    int connections() const { return m_connections; }
    // Connections that the client has closed: all they sent has been kept.
    int closedConnections() const { return m_closedConnections; }
    // Every byte that clients sent and that was not passed on (over TLS, what
    // arrived after the handshake).
    QByteArray received() const { return m_received; }
    // The head (request line and headers) of each metadata request (/admin...).
    QByteArrayList metadataRequests;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    // Whether the request with this head has been dealt with.
    bool handle(QSslSocket *client, const QByteArray &head);
    void passOn(QSslSocket *client, const QByteArray &head, bool stopReading);

    quint16 m_serverPort = 0;
    quint16 m_port = 0;
    QSslCertificate m_certificate;
    QSslKey m_key;
    Mode m_sourceMode = Mode::PassOn;
    Mode m_metadataMode = Mode::PassOn;
    int m_connections = 0;
    int m_closedConnections = 0;
    QByteArray m_received;
};
