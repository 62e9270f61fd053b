#include "httpget.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

QNetworkRequest loopbackRequest(const QUrl &url, const QByteArray &user, const QByteArray &password)
{
    QNetworkRequest request(url);
    if (!user.isEmpty())
        request.setRawHeader("Authorization", "Basic " + (user + ':' + password).toBase64());
    return request;
}

} // namespace

HttpReply httpGet(const QUrl &url, int timeoutMs, const QByteArray &user, const QByteArray &password)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(loopbackRequest(url, user, password));
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    HttpReply result;
    if (reply->isFinished()) {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.body = reply->readAll();
    }
    reply->abort();
    delete reply;
    return result;
}

QByteArray httpReceive(const QUrl &url, int durationMs)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(url));
    QByteArray received;
    QObject::connect(reply, &QNetworkReply::readyRead, [&] { received += reply->readAll(); });
    QEventLoop loop;
    QTimer::singleShot(durationMs, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    received += reply->readAll();
    reply->abort();
    delete reply;
    return received;
}
