#include "requestrecorder.h"

#include "testcertificate.h"

#include <QFile>
#include <QSslSocket>

bool RequestRecorder::start(const TestCertificate *certificate)
{
    if (certificate) {
        m_certificate = QSslCertificate::fromPath(certificate->certificateFile()).value(0);
        QFile key(certificate->keyFile());
        if (!key.open(QIODevice::ReadOnly))
            return false;
        m_key = QSslKey(&key, QSsl::Rsa);
    }
    return listen(QHostAddress::LocalHost);
}

void RequestRecorder::incomingConnection(qintptr descriptor)
{
    ++m_connections;
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    connect(socket, &QSslSocket::disconnected, this, [this, socket] {
        ++m_closedConnections;
        socket->deleteLater();
    });
    connect(socket, &QSslSocket::readyRead, this, [this, socket] {
        const bool headerWasComplete = m_received.contains("\r\n\r\n");
        m_received += socket->readAll();
        if (!headerWasComplete && m_received.contains("\r\n\r\n")) {
            socket->write("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
        }
    });
    if (!m_certificate.isNull()) {
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        socket->startServerEncryption();
    }
}
