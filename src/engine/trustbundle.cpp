#include "trustbundle.h"

#include <QDir>
#include <QFile>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTemporaryFile>

extern "C" {
#include <libavutil/error.h>
}

int readTrustedAuthorities(const QString &certificateFile, QList<QSslCertificate> &authorities)
{
    QFile file(certificateFile);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? AVERROR(EACCES) : AVERROR(ENOENT);
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty())
        return AVERROR_INVALIDDATA;
    authorities = QSslConfiguration::systemCaCertificates() + certificates;
    return 0;
}

int writeTrustBundle(const QString &certificateFile, QTemporaryFile &bundle)
{
    QList<QSslCertificate> authorities;
    const int result = readTrustedAuthorities(certificateFile, authorities);
    if (result < 0)
        return result;
    bundle.setFileTemplate(QDir::tempPath() + QStringLiteral("/tavolin-trust-XXXXXX.pem"));
    if (!bundle.open())
        return AVERROR(EIO);
    for (const QSslCertificate &authority : authorities) {
        if (bundle.write(authority.toPem()) < 0)
            return AVERROR(EIO);
    }
    bundle.close();
    return bundle.error() == QFileDevice::NoError ? 0 : AVERROR(EIO);
}

void trustAsTheStream(QSslConfiguration &configuration, const QString &certificateFile)
{
    QList<QSslCertificate> authorities;
    if (!certificateFile.isEmpty() && readTrustedAuthorities(certificateFile, authorities) >= 0)
        configuration.setCaCertificates(authorities);
}

void trustAsTheStream(QNetworkRequest &request, const QString &certificateFile)
{
    if (request.url().scheme() != QLatin1String("https"))
        return;
    QSslConfiguration configuration = request.sslConfiguration();
    trustAsTheStream(configuration, certificateFile);
    request.setSslConfiguration(configuration);
}
