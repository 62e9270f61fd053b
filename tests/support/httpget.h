#pragma once

#include <QByteArray>
#include <QUrl>

// Plain HTTP/1.0 on loopback for the tests, on the calling thread (no helper
// threads, which would only add noise to sanitizer runs).
struct HttpReply
{
    int status = 0; // 0 when no answer came
    QByteArray body;
};

// One GET, answered within timeoutMs. User and password go into Basic authorization.
HttpReply httpGet(const QUrl &url, int timeoutMs = 5000, const QByteArray &user = QByteArray(),
                  const QByteArray &password = QByteArray());

// Receives a streaming response for durationMs, as a listener does; returns the body.
QByteArray httpReceive(const QUrl &url, int durationMs);
