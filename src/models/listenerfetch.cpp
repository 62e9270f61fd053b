#include "listenerfetch.h"

#include "engine/trustbundle.h"

#include <QSslConfiguration>
#include <QSslSocket>

namespace {

// Every visit ends within this, whatever the server does.
constexpr int visitMs = 5000;
// How long a visit listens once the stream flows.
constexpr int listeningMs = 3000;
// A head longer than this is no listener's answer.
constexpr int longestHead = 16384;
// A live stream sends far less in a visit; an address that sends more is
// no live stream, and what came is enough to decode.
constexpr int longestBody = 4 * 1024 * 1024;

} // namespace

const QByteArray ListenerFetch::userAgent = QByteArrayLiteral("TavolinEncoder listener check");

ListenerFetch::ListenerFetch(const QUrl &address, const QString &certificateFile, QObject *parent)
    : QObject(parent)
    , m_address(address)
{
    if (address.scheme() == QLatin1String("https")) {
        auto socket = std::make_unique<QSslSocket>();
        QSslConfiguration configuration = socket->sslConfiguration();
        trustAsTheStream(configuration, certificateFile);
        socket->setSslConfiguration(configuration);
        connect(socket.get(), &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            finish(errors.value(0).errorString());
        });
        connect(socket.get(), &QSslSocket::encrypted, this, &ListenerFetch::sendRequest);
        m_socket = std::move(socket);
    } else {
        m_socket = std::make_unique<QTcpSocket>();
        connect(m_socket.get(), &QAbstractSocket::connected, this, &ListenerFetch::sendRequest);
    }
    m_deadline.setSingleShot(true);
    m_listening.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        finish(m_headRead ? QString() : QStringLiteral("Connection timed out"));
    });
    connect(&m_listening, &QTimer::timeout, this, [this] { finish(QString()); });
    connect(m_socket.get(), &QAbstractSocket::readyRead, this, &ListenerFetch::readAnswer);
    connect(m_socket.get(), &QAbstractSocket::errorOccurred, this, [this] {
        // A stream that the server ends is what a listener got.
        finish(m_headRead ? QString() : m_socket->errorString());
    });
}

ListenerFetch::~ListenerFetch() = default;

void ListenerFetch::start()
{
    m_deadline.start(visitMs);
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket.get()))
        tls->connectToHostEncrypted(m_address.host(), quint16(m_address.port(443)));
    else
        m_socket->connectToHost(m_address.host(), quint16(m_address.port(80)));
}

void ListenerFetch::sendRequest()
{
    // The path with its query, and the host with its port, as a listener asks.
    const QByteArray target = m_address.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    const QByteArray host = m_address.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1();
    m_socket->write("GET " + (target.startsWith('/') ? target : '/' + target) + " HTTP/1.0\r\nHost: " + host
                    + "\r\nUser-Agent: " + userAgent + "\r\n\r\n");
}

void ListenerFetch::readAnswer()
{
    if (m_headRead) {
        m_body += m_socket->readAll();
        if (m_body.size() > longestBody)
            finish(QString());
        return;
    }
    m_head += m_socket->readAll();
    const int end = m_head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_head.size() > longestHead)
            finish(QStringLiteral("No answer of a server"));
        return;
    }
    m_headRead = true;
    m_body = m_head.mid(end + 4);
    const QList<QByteArray> lines = m_head.left(end).split('\n');
    // "HTTP/1.0 200 OK", or a Shoutcast server's "ICY 200 OK".
    m_status = lines.constFirst().trimmed().split(' ').value(1).toInt();
    for (const QByteArray &line : lines.mid(1)) {
        const int colon = line.indexOf(':');
        if (line.left(colon).trimmed().toLower() == "content-type")
            m_contentType = QString::fromLatin1(line.mid(colon + 1).split(';').constFirst().trimmed()).toLower();
    }
    if (m_status != 200)
        finish(QString());
    else
        m_listening.start(listeningMs);
}

void ListenerFetch::finish(const QString &error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_error = error;
    m_deadline.stop();
    m_listening.stop();
    m_socket->abort();
    emit finished();
}
