#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

class TestCertificate;

// A server of the test's own on 127.0.0.1 that keeps every byte its clients
// send; over TLS, what arrives after the handshake. It refuses each request
// with 401 once the header is complete, so that a source gives up at once.
class RequestRecorder : public QTcpServer
{
public:
    // Listens on a free port, over TLS with certificate when one is given.
    bool start(const TestCertificate *certificate = nullptr);

    int connections() const { return m_connections; }
    // Connections that the client has closed: all they sent has been kept.
    int closedConnections() const { return m_closedConnections; }
    QByteArray received() const { return m_received; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    int m_connections = 0;
    int m_closedConnections = 0;
    QByteArray m_received;
};
