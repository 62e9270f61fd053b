#pragma once

#include <QByteArray>
#include <QUrl>

// One blocking HTTP GET on loopback, for the tests. Gives up after timeoutMs.
struct HttpReply
{
    int status = 0; // 0 when no answer came
    QByteArray body;
};

HttpReply httpGet(const QUrl &url, int timeoutMs = 5000, const QByteArray &user = QByteArray(),
                  const QByteArray &password = QByteArray());

// Reads a streaming response for durationMs and returns what arrived.
QByteArray httpReceive(const QUrl &url, int durationMs);
