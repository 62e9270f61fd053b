#include "icecastserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryFile>

#include <cstring>

namespace {

QString xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&apos;"));
}

const QFileDevice::Permissions readableByAll = QFileDevice::ReadOwner | QFileDevice::WriteOwner
    | QFileDevice::ReadGroup | QFileDevice::ReadOther;

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

bool TestCertificate::generate(const QString &hostName)
{
    QFile::setPermissions(m_folder.path(), readableByAll | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                              | QFileDevice::ExeOther);
    const QStringList arguments = words("req -x509 -newkey rsa:2048 -nodes -days 2 -subj")
        << QStringLiteral("/CN=") + hostName << QStringLiteral("-addext")
        << QStringLiteral("subjectAltName=DNS:") + hostName << QStringLiteral("-keyout") << keyFile()
        << QStringLiteral("-out") << certificateFile();
    if (!runTool(QStringLiteral("openssl"), arguments, 30000)
        || !QFile::setPermissions(certificateFile(), readableByAll)
        || !writeFile(serverFile(), contents(certificateFile()) + contents(keyFile()))) {
        m_errorString = QStringLiteral("openssl could not make a certificate in ") + m_folder.path();
        return false;
    }
    return true;
}

void IcecastServer::writeConfiguration()
{
    const QString folder = m_process.folder();
    const QString tls = QStringLiteral("<ssl>1</ssl>");
    const QString certificate = QStringLiteral("<ssl-certificate>%1</ssl-certificate>");
    const QString config = QStringLiteral(R"(<icecast><hostname>127.0.0.1</hostname>
<limits><sources>8</sources><clients>16</clients><source-timeout>5</source-timeout></limits>
<authentication><source-password>%1</source-password>
<admin-user>admin</admin-user><admin-password>admin-secret</admin-password></authentication>
<listen-socket><port>%2</port><bind-address>127.0.0.1</bind-address>%4%6</listen-socket>
<paths><basedir>/usr/share/icecast2</basedir><logdir>%3</logdir>%5
<webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
<logging><errorlog>error.log</errorlog><accesslog>access.log</accesslog><loglevel>3</loglevel></logging>
<security><chroot>0</chroot></security>%7</icecast>)")
                               .arg(xmlEscaped(m_sourcePassword), QString::number(m_port), folder,
                                    m_tls ? tls : QString(),
                                    m_tls ? certificate.arg(xmlEscaped(m_tlsCertificateFile)) : QString(),
                                    m_shoutcastMount.isEmpty() ? QString()
                                        : QStringLiteral("<shoutcast-mount>%1</shoutcast-mount>")
                                              .arg(xmlEscaped(m_shoutcastMount)),
                                    m_lockedMount.isEmpty() ? QString()
                                        : QStringLiteral("<mount><mount-name>%1</mount-name><authentication "
                                                         "type=\"htpasswd\"><option name=\"filename\" value=\"%2/"
                                                         "listeners\"/></authentication></mount>")
                                              .arg(xmlEscaped(m_lockedMount), folder));
    writeFile(folder + QStringLiteral("/listeners"), QByteArray());
    writeFile(folder + QStringLiteral("/icecast.xml"), config.toUtf8());
}

bool IcecastServer::start()
{
    // Shoutcast sources come to the port above, which must be free too.
    for (int attempt = 0; m_port == 0 && attempt < 10; ++attempt) {
        m_port = freeLoopbackPort();
        QTcpServer above;
        if (!m_shoutcastMount.isEmpty() && !above.listen(QHostAddress::LocalHost, quint16(m_port + 1)))
            m_port = 0;
    }
    writeConfiguration();
    // Icecast refuses to run as root, so it runs as nobody from the start. On
    // a loaded machine it now and then crashes while it starts: tried again.
    const QStringList arguments{QStringLiteral("-c"), m_process.folder() + QStringLiteral("/icecast.xml")};
    const auto answers = [this] { return !get(QStringLiteral("/status-json.xsl"), 1000).isEmpty(); };
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (m_process.start(QStringLiteral("icecast2"), arguments, true, answers))
            return true;
    }
    return false;
}

QByteArray IcecastServer::get(const QString &path, int timeoutMs) const
{
    // In the event loop, so that a loopback proxy of the same thread passes a
    // stream on meanwhile.
    const QDeadlineTimer deadline(timeoutMs);
    const auto remainingMs = [&] { return int(qMax<qint64>(0, deadline.remainingTime())); };
    QSslSocket socket;
    QSslConfiguration configuration = socket.sslConfiguration();
    configuration.setCaCertificates(m_authorities);
    socket.setSslConfiguration(configuration);
    if (m_tls)
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_port, host());
    else
        socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    const auto ready = [&] { return m_tls ? socket.isEncrypted() : socket.state() == QAbstractSocket::ConnectedState; };
    if (!waitUntil(remainingMs(), [&] { return ready() || socket.state() == QAbstractSocket::UnconnectedState; })
        || !ready())
        return QByteArray();
    socket.write("GET " + path.toUtf8() + " HTTP/1.0\r\n\r\n");
    QByteArray response;
    waitUntil(remainingMs(), [&] {
        response += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    });
    response += socket.readAll();
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

ListenerRecording IcecastServer::recordListener(const QString &mount, int durationMs) const
{
    // Over TLS Icecast now and then refuses a handshake; the listener tries again.
    QTemporaryFile received;
    if (!received.open())
        return {};
    QByteArray bytes;
    for (int attempt = 0; attempt < 3 && bytes.isEmpty(); ++attempt)
        bytes = get(mount, durationMs);
    received.write(bytes);
    received.flush();
    ListenerRecording recording = decodeFile(received.fileName());
    recording.bytes = bytes;
    return recording;
}

QStringList ListenerRecording::format() const
{
    return {stream.value(QStringLiteral("codec_name")).toString(),
            stream.value(QStringLiteral("sample_rate")).toString(), QString::number(stream.value(QStringLiteral("channels")).toInt()),
            stream.value(QStringLiteral("bit_rate")).toString()};
}

ListenerRecording decodeFile(const QString &path)
{
    ListenerRecording recording;
    const QByteArray probe =
        runTool(QStringLiteral("ffprobe"), words("-v error -of json -show_streams") << path).value_or(QByteArray());
    recording.stream =
        QJsonDocument::fromJson(probe).object().value(QStringLiteral("streams")).toArray().first().toObject();
    const QStringList decode = words("-v error -i") << path << words("-af pan=mono|c0=c0 -f f32le -");
    const QByteArray audio = runTool(QStringLiteral("ffmpeg"), decode, 30000).value_or(QByteArray());
    recording.samples.resize(int(audio.size() / int(sizeof(float))));
    std::memcpy(recording.samples.data(), audio.constData(), size_t(recording.samples.size()) * sizeof(float));
    return recording;
}
