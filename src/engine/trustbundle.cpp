#include "trustbundle.h"

#include <QDir>
#include <QFile>
#include <QSslConfiguration>
#include <QTemporaryFile>

extern "C" {
#include <libavutil/error.h>
}

int readCertificateFile(const QString &path, QList<QSslCertificate> &certificates)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? AVERROR(EACCES) : AVERROR(ENOENT);
    certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    return certificates.isEmpty() ? AVERROR_INVALIDDATA : 0;
}

int writeTrustBundle(const QString &certificateFile, QTemporaryFile &bundle)
{
    QList<QSslCertificate> certificates;
    const int result = readCertificateFile(certificateFile, certificates);
    if (result < 0)
        return result;
    bundle.setFileTemplate(QDir::tempPath() + QStringLiteral("/tavolin-trust-XXXXXX.pem"));
    if (!bundle.open())
        return AVERROR(EIO);
    const QList<QSslCertificate> trusted = QSslConfiguration::systemCaCertificates() + certificates;
    for (const QSslCertificate &certificate : trusted) {
        if (bundle.write(certificate.toPem()) < 0)
            return AVERROR(EIO);
    }
    bundle.close();
    return bundle.error() == QFileDevice::NoError ? 0 : AVERROR(EIO);
}
