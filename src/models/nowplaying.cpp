// Now-playing titles: typed in, or the first line of a watched file, sent to
// the server's metadata interface while the stream is on air.
#include "playermodel.h"

#include "engine/trustbundle.h"
#include "models/logsmodel.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTextStream>
#include <QUrl>

#include <utility>

namespace {

// Like the stream's connection: a server that accepts and never answers must
// not leave the request (and its manager) hanging for ever.
constexpr int metadataTimeoutMs = 10000;
// Icecast 2.4 takes no titles for Opus and FLAC mounts and says so in a
// successful answer. The title still counts for the window and the recording.
const QByteArray titlesRefused = QByteArrayLiteral("Mountpoint will not accept URL updates");

// The request trusts what the stream's connection trusts. A file that can no
// longer be read leaves the system's authorities alone: verification stays on.
void trustAsTheStream(QNetworkRequest &request, const QString &certificateFile)
{
    QList<QSslCertificate> authorities;
    if (certificateFile.isEmpty() || readTrustedAuthorities(certificateFile, authorities) < 0)
        return;
    QSslConfiguration configuration = request.sslConfiguration();
    configuration.setCaCertificates(authorities);
    request.setSslConfiguration(configuration);
}

QString percentEncoded(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

// A Shoutcast server takes titles on its own port, with the password in the
// query; the title as UTF-8.
QNetworkRequest shoutcastMetadataRequest(const Player &player, const QString &metadata)
{
    const QString url = QStringLiteral("http://%1:%2/admin.cgi?mode=updinfo&pass=%3&song=%4")
                            .arg(player.hostname(), QString::number(player.port()), percentEncoded(player.password()),
                                 percentEncoded(metadata));
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setTransferTimeout(metadataTimeoutMs);
    return request;
}

QNetworkRequest metadataRequest(const Player &player, const QString &metadata)
{
    if (player.protocol() == QLatin1String("shoutcast"))
        return shoutcastMetadataRequest(player, metadata);
    // One pass of arg(), so a "%" inside a value is never replaced again. The
    // charset makes an MP3 mount take the title as UTF-8 rather than Latin-1,
    // which drops titles with other letters altogether.
    const QString url = QStringLiteral("%1://%2:%3/admin/metadata?mode=updinfo&mount=/%4&song=%5&charset=UTF-8")
                            .arg(player.protocol(), player.hostname(), QString::number(player.port()),
                                 player.mount(), percentEncoded(metadata));
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    const QByteArray credentials = (player.user() + QLatin1Char(':') + player.password()).toUtf8();
    request.setRawHeader("Authorization", "Basic " + credentials.toBase64());
    request.setTransferTimeout(metadataTimeoutMs);
    trustAsTheStream(request, player.certificateFile());
    return request;
}

// The title in a now-playing file; empty when there is none.
QString firstLine(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
    return stream.readLine();
}

} // namespace

void PlayerModel::setMetadataFile(QString file)
{
    const QString path = QUrl(file, QUrl::TolerantMode).toLocalFile();
    followMetadataFile(path);
    onMetadataChange(path);
}

void PlayerModel::followMetadataFile(QString path)
{
    const bool changed = path != nowPlayingFile.path();
    nowPlayingFile.follow(path);
    if (changed)
        emit metadataFileChanged();
}

void PlayerModel::onMetadataFileChange()
{
    // A run being started sends the file's title once it is on the air; a
    // refusal now would only put an error over the start.
    if (player.status() == Changing && !player.isPlaying())
        return;
    onMetadataChange(nowPlayingFile.path());
}

// The server starts each stream without a title: the latest one set while the
// run's connection did not take titles yet goes out once it does, or else the
// one of the file, at the start and after a reconnection.
void PlayerModel::sendTitlesOnAir()
{
    if (!player.isOnAir() || !player.takesTitleRequests())
        return;
    const QString title = pendingTitle.isEmpty() ? nowPlayingLine() : std::exchange(pendingTitle, QString());
    if (!title.isEmpty())
        sendTitle(title);
}

QString PlayerModel::nowPlayingLine() const
{
    return firstLine(nowPlayingFile.path());
}

void PlayerModel::onMetadataChange(QString file)
{
    const QString line = firstLine(file);
    if (!line.isEmpty())
        metadataUpdate(line);
}

void PlayerModel::metadataUpdate(QString metadata)
{
    // Also after a failed update: the stream is still on the air.
    if (!player.isOnAir()) {
        player.reportError(QStringLiteral("Cannot update metadata: stream not connected!"));
        return;
    }
    if (!player.takesTitleRequests()) {
        pendingTitle = metadata;
        return;
    }
    sendTitle(metadata);
}

void PlayerModel::sendTitle(const QString &metadata)
{
    // The server's answer holds for the whole run: it is not asked again.
    if (player.refusesTitles()) {
        player.setSong(metadata);
        return;
    }
    auto *manager = new QNetworkAccessManager(this);
    connect(manager, &QNetworkAccessManager::finished, this, [this, manager, metadata](QNetworkReply *reply) {
        metadataReplyHandler(reply, metadata);
        reply->deleteLater();
        manager->deleteLater();
    });
    manager->get(metadataRequest(player, metadata));
}

void PlayerModel::metadataReplyHandler(QNetworkReply *reply, const QString &metadata)
{
    if (reply->error() != QNetworkReply::NoError) {
        // Qt names the URL in the text of an HTTP error status; a Shoutcast
        // title's query holds the password.
        const QUrl url = reply->url();
        const QString error = reply->errorString().replace(url.toString(), url.toString(QUrl::RemoveQuery));
        player.reportMetadataError(QStringLiteral("Error while updating metadata: ") + error);
        return;
    }
    if (reply->readAll().contains(titlesRefused))
        player.setTitlesRefused();
    player.setSong(metadata);
}
