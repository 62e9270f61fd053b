#pragma once

#include <QString>
#include <QTemporaryDir>

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
    QString certificateFile() const;
    QString keyFile() const { return path(QStringLiteral("key.pem")); }
    // The certificate followed by its key, in PEM, as Icecast takes it.
    QString serverFile() const;

private:
    QString path(const QString &name) const { return m_folder.path() + QLatin1Char('/') + name; }

    QTemporaryDir m_folder;
    QString m_errorString;
};
