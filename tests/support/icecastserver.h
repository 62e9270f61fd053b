#pragma once

#include "serverprocess.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

// A self-signed certificate and its key, made by openssl for a test, in a
// folder that everybody can read: Icecast reads it as the user nobody.
class TestCertificate
{
public:
    // Makes a certificate that names hostName as its common name and its only
    // subject alternative name. Returns false with errorString() set on failure.
    bool generate(const QString &hostName);
    QString errorString() const { return m_errorString; }

    // The certificate alone, in PEM: what a client is told to trust.
    QString certificateFile() const { return path(QStringLiteral("certificate.pem")); }
    QString keyFile() const { return path(QStringLiteral("key.pem")); }
    // The certificate followed by its key, in PEM, as Icecast takes it.
    QString serverFile() const { return path(QStringLiteral("server.pem")); }

private:
    QString path(const QString &name) const { return m_folder.path() + QLatin1Char('/') + name; }

    QTemporaryDir m_folder;
    QString m_errorString;
};

// What a listener received of a mount: the first stream's entry of ffprobe's
// -show_streams (codec_name, sample_rate, channels, bit_rate, ...), and the
// audio of its left channel, decoded at the stream's own rate.
struct ListenerRecording
{
    // The codec, sample rate, channels and bit rate.
    QStringList format() const;

    QJsonObject stream;
    QVector<float> samples;
    // What was received, as it came (a listener's only).
    QByteArray bytes;
};
// The same of an audio file.
ListenerRecording decodeFile(const QString &path);

// A private Icecast 2 server on 127.0.0.1 for one test program. The port is
// chosen on the first start and kept across restarts.
class IcecastServer
{
public:
    // The host name a source connects to. Over TLS it is "localhost", the name
    // that a certificate for the loopback address carries.
    QString host() const { return m_tls ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString sourceUser() const { return QStringLiteral("source"); }
    QString sourcePassword() const { return m_sourcePassword; }
    // Before start(): any printable text; it is escaped for the configuration.
    void setSourcePassword(const QString &password) { m_sourcePassword = password; }
    // Before start(): serve HTTPS with this certificate. The server's own
    // queries below trust it alone, for its host name.
    void setTlsCertificate(const TestCertificate &certificate)
    {
        m_tls = true;
        m_tlsCertificateFile = certificate.serverFile();
        m_authorities = QSslCertificate::fromPath(certificate.certificateFile());
    }

    // Before start(): also take Shoutcast sources, on the port above the
    // server's, for this mount ("/shoutcast").
    void setShoutcastMount(const QString &mount) { m_shoutcastMount = mount; }
    // Before start(): listeners of this mount ("/locked") must log in, and
    // none can (no user is known).
    void setLockedMount(const QString &mount) { m_lockedMount = mount; }

    // Writes the configuration, starts the server and waits until it answers.
    bool start();
    void stop() { m_process.stop(); }
    QString errorString() const { return m_process.errorString(); }

    // The entry of status-json.xsl for a live mount ("/live"); empty when not listed.
    QJsonObject mountStatus(const QString &mount) const;
    // Waits up to timeoutMs until the mount is listed, or with listed false
    // until it is gone (a server frees a mount a moment after its source left).
    bool waitForMount(const QString &mount, bool listed, int timeoutMs = 10000) const
    {
        return waitUntil(timeoutMs, [&] { return mountStatus(mount).isEmpty() != listed; });
    }
    // Waits up to timeoutMs until the mount's title is title.
    bool waitForTitle(const QString &mount, const QString &title, int timeoutMs = 10000) const
    {
        return waitUntil(timeoutMs,
                         [&] { return mountStatus(mount).value(QStringLiteral("title")).toString() == title; });
    }
    // What a listener of the mount receives in durationMs, read by ffprobe
    // and decoded by ffmpeg.
    ListenerRecording recordListener(const QString &mount, int durationMs) const;

private:
    void writeConfiguration();
    // The body of a GET of path, read until the server closes or timeoutMs
    // pass; empty unless the server answered 200.
    QByteArray get(const QString &path, int timeoutMs) const;

    ServerProcess m_process;
    quint16 m_port = 0;
    bool m_tls = false;
    QString m_tlsCertificateFile;
    QList<QSslCertificate> m_authorities;
    QString m_sourcePassword = QStringLiteral("hackme-source");
    QString m_shoutcastMount;
    QString m_lockedMount;
};
