#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

class QTemporaryFile;

// What a stream's verified TLS connections trust: the system's certificate
// authorities and the certificates of the stream's optional PEM file.

// Reads the certificates of a PEM file: 0, or a negative FFmpeg error code
// when the file cannot be read or holds no certificate.
int readCertificateFile(const QString &path, QList<QSslCertificate> &certificates);

// Writes the system's authorities and the certificates of certificateFile
// into bundle as one PEM file, for a TLS layer that trusts either its system
// store or one file: 0, or a negative FFmpeg error code.
int writeTrustBundle(const QString &certificateFile, QTemporaryFile &bundle);
