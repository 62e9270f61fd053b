#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QUrl>

// HTTP/1.0 on loopback for the tests, plain or over TLS for "https" URLs, on
// the calling thread (no helper threads, which would only add noise to
// sanitizer runs).
struct HttpReply
{
    int status = 0; // 0 when no answer came
    QByteArray body;
};

// Whom a client trusts over TLS: these authorities alone, for a certificate
// that names peerName (the URL's host when empty).
struct TlsTrust
{
    QList<QSslCertificate> authorities;
    QString peerName;
};

// One GET, answered within timeoutMs. User and password go into Basic authorization.
HttpReply httpGet(const QUrl &url, int timeoutMs = 5000, const QByteArray &user = QByteArray(),
                  const QByteArray &password = QByteArray(), const TlsTrust &trust = TlsTrust());

// Receives a streaming response for durationMs, as a listener does; returns the body.
QByteArray httpReceive(const QUrl &url, int durationMs, const TlsTrust &trust = TlsTrust());
