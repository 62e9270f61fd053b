#include "icecastserver.h"

#include "testcertificate.h"
#include "waituntil.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryFile>

#include <memory>

namespace {

QString xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&apos;"));
}

} // namespace

bool IcecastServer::writeConfiguration()
{
    const QString folder = m_process.folder();
    const QString config = QStringLiteral(R"(<icecast>
  <location>loopback</location>
  <admin>tests@localhost</admin>
  <hostname>127.0.0.1</hostname>
  <limits><sources>4</sources><clients>16</clients><source-timeout>5</source-timeout></limits>
  <authentication>
    <source-password>%1</source-password>
    <admin-user>admin</admin-user>
    <admin-password>admin-secret</admin-password>
  </authentication>
  <listen-socket><port>%2</port><bind-address>127.0.0.1</bind-address>%4</listen-socket>
  <paths>
    <basedir>/usr/share/icecast2</basedir>%5
    <logdir>%3</logdir>
    <webroot>/usr/share/icecast2/web</webroot>
    <adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging><errorlog>error.log</errorlog><accesslog>access.log</accesslog><loglevel>3</loglevel></logging>
  <security><chroot>0</chroot></security>
</icecast>
)")
                               .arg(xmlEscaped(m_sourcePassword), QString::number(m_port), folder,
                                    m_tls ? QStringLiteral("<ssl>1</ssl>") : QString(),
                                    m_tls ? QStringLiteral("<ssl-certificate>") + xmlEscaped(m_tlsCertificateFile)
                                            + QStringLiteral("</ssl-certificate>")
                                          : QString());
    QFile file(folder + QStringLiteral("/icecast.xml"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(config.toUtf8());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                        | QFileDevice::ReadOther);
    return true;
}

bool IcecastServer::start()
{
    if (m_port == 0)
        m_port = freeLoopbackPort();
    if (!writeConfiguration()) {
        m_process.setErrorString(QStringLiteral("could not write the Icecast configuration"));
        return false;
    }
    // Icecast refuses to run as root, so it runs as nobody from the start.
    if (!m_process.start(QStringLiteral("icecast2"),
                         {QStringLiteral("-c"), m_process.folder() + QStringLiteral("/icecast.xml")}, true))
        return false;
    const bool answered = waitUntil(10000, [this] {
        return !m_process.isRunning() || !get(QStringLiteral("/status-json.xsl"), 1000).isEmpty();
    });
    if (!answered || !m_process.isRunning()) {
        QFile errorLog(m_process.folder() + QStringLiteral("/error.log"));
        errorLog.open(QIODevice::ReadOnly);
        m_process.setErrorString(QStringLiteral("Icecast did not answer: ") + m_process.output()
                                 + QString::fromLocal8Bit(errorLog.readAll().right(2000)));
        m_process.stop();
        return false;
    }
    return true;
}

void IcecastServer::setTlsCertificate(const TestCertificate &certificate)
{
    m_tls = true;
    m_tlsCertificateFile = certificate.serverFile();
    m_authorities = QSslCertificate::fromPath(certificate.certificateFile());
}

void IcecastServer::stop()
{
    m_process.stop();
}

QByteArray IcecastServer::get(const QString &path, int timeoutMs) const
{
    // On the calling thread, without helper threads, which would only add
    // noise to sanitizer runs.
    const QDeadlineTimer deadline(timeoutMs);
    std::unique_ptr<QTcpSocket> socket;
    if (m_tls) {
        auto tlsSocket = std::make_unique<QSslSocket>();
        QSslConfiguration configuration = tlsSocket->sslConfiguration();
        configuration.setCaCertificates(m_authorities);
        tlsSocket->setSslConfiguration(configuration);
        tlsSocket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_port, host());
        if (!tlsSocket->waitForEncrypted(int(deadline.remainingTime())))
            return QByteArray();
        socket = std::move(tlsSocket);
    } else {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), m_port);
        if (!socket->waitForConnected(int(deadline.remainingTime())))
            return QByteArray();
    }
    socket->write("GET " + path.toUtf8() + " HTTP/1.0\r\n\r\n");
    QByteArray response;
    while (!deadline.hasExpired() && socket->state() == QAbstractSocket::ConnectedState) {
        socket->waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 100)));
        response += socket->readAll();
    }
    response += socket->readAll();
    const int headerEnd = response.indexOf("\r\n\r\n");
    if (headerEnd < 0 || response.left(response.indexOf("\r\n")).split(' ').value(1) != "200")
        return QByteArray();
    return response.mid(headerEnd + 4);
}

QJsonObject IcecastServer::mountStatus(const QString &mount) const
{
    // Icecast now and then answers quick successive queries with a status that
    // lacks part of its JSON, and over TLS refuses a handshake: asked again.
    QJsonDocument status;
    for (int attempt = 0; attempt < 10 && status.isNull(); ++attempt)
        status = QJsonDocument::fromJson(get(QStringLiteral("/status-json.xsl"), 5000));
    const QJsonValue source = status.object()
                                  .value(QStringLiteral("icestats")).toObject()
                                  .value(QStringLiteral("source"));
    // One live mount is an object, several are an array.
    const QJsonArray sources = source.isArray() ? source.toArray() : QJsonArray{source};
    for (const QJsonValue &entry : sources) {
        const QJsonObject object = entry.toObject();
        if (object.value(QStringLiteral("listenurl")).toString().endsWith(mount))
            return object;
    }
    return QJsonObject();
}

bool IcecastServer::waitForMount(const QString &mount, bool listed, int timeoutMs) const
{
    return waitUntil(timeoutMs, [&] { return mountStatus(mount).isEmpty() != listed; });
}

QJsonObject IcecastServer::probeListener(const QString &mount, int durationMs) const
{
    // Over TLS Icecast now and then refuses a handshake; the listener tries again.
    QTemporaryFile received;
    if (!received.open())
        return QJsonObject();
    for (int attempt = 0; attempt < 3 && received.size() == 0; ++attempt)
        received.write(get(mount, durationMs));
    received.flush();
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-of"),
                                              QStringLiteral("json"), QStringLiteral("-show_streams"),
                                              received.fileName()});
    if (!ffprobe.waitForFinished(10000)) {
        ffprobe.kill();
        ffprobe.waitForFinished(1000);
    }
    return QJsonDocument::fromJson(ffprobe.readAllStandardOutput())
        .object().value(QStringLiteral("streams")).toArray().first().toObject();
}
