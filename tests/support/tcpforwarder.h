#pragma once

#include <QTcpServer>

// A loopback port that passes each connection on, byte for byte, to the
// target port of the moment of its arrival: a test can send a client's later
// connections to another server than its first ones.
class TcpForwarder : public QObject
{
public:
    bool listen(quint16 targetPort);
    quint16 port() const { return m_server.serverPort(); }
    void setTargetPort(quint16 targetPort) { m_targetPort = targetPort; }

private:
    void accept();

    QTcpServer m_server;
    quint16 m_targetPort = 0;
};
