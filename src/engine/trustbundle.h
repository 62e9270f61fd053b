#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

class QNetworkRequest;
class QSslConfiguration;
class QTemporaryFile;

// What a stream's verified TLS connections trust when it names a certificate
// file: the system's certificate authorities and the file's certificates.
// Without a file the system's authorities alone.

// Reads that trust: 0, or a negative FFmpeg error code when the PEM file
// cannot be read or holds no certificate.
int readTrustedAuthorities(const QString &certificateFile, QList<QSslCertificate> &authorities);

// Writes that trust into bundle as one PEM file, for a TLS layer that trusts
// either its system store or one file: 0, or a negative FFmpeg error code.
int writeTrustBundle(const QString &certificateFile, QTemporaryFile &bundle);

// Makes configuration trust what a stream's connection trusts. A file that
// can no longer be read leaves the system's authorities alone: verification
// stays on.
void trustAsTheStream(QSslConfiguration &configuration, const QString &certificateFile);

// The same for an HTTPS request; a plain HTTP one is left alone, so that only
// HTTPS loads the TLS libraries, which cost memory.
void trustAsTheStream(QNetworkRequest &request, const QString &certificateFile);
