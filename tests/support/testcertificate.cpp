#include "testcertificate.h"

#include <QFile>
#include <QProcess>

namespace {

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
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=") + hostName, QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=DNS:") + hostName, QStringLiteral("-keyout"),
                   keyFile(), QStringLiteral("-out"), certificateFile()});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        m_errorString = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(openssl.readAll())
            + openssl.errorString();
        return false;
    }
    QFile server(serverFile());
    if (!server.open(QIODevice::WriteOnly)
        || server.write(contents(certificateFile()) + contents(keyFile())) < 0) {
        m_errorString = QStringLiteral("could not write ") + serverFile();
        return false;
    }
    server.close();
    QFile::setPermissions(certificateFile(), readableByAll);
    QFile::setPermissions(serverFile(), readableByAll);
    return true;
}

QString TestCertificate::certificateFile() const
{
    return path(QStringLiteral("certificate.pem"));
}

QString TestCertificate::serverFile() const
{
    return path(QStringLiteral("server.pem"));
}
