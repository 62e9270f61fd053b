// Now-playing titles: typed in, or the first line of a watched file, sent to
// the server's metadata interface while the stream is on air.
#include "playermodel.h"

#include "engine/trustbundle.h"
#include "models/logsmodel.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextStream>
#include <QUrl>

namespace {

// Like the stream's connection: a server that accepts and never answers must
// not leave the request (and its manager) hanging for ever.
constexpr int metadataTimeoutMs = 10000;
// Icecast 2.4 takes no titles for Opus and FLAC mounts and says so in a
// successful answer. The title still counts for the window and the recording.
const QByteArray titlesRefused = QByteArrayLiteral("Mountpoint will not accept URL updates");

QString percentEncoded(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

// A Shoutcast server takes titles on its own port, with the password in the
// query; the title as UTF-8.
QNetworkRequest shoutcastMetadataRequest(const StreamSettings &stream, const QString &metadata)
{
    const QString url = QStringLiteral("http://%1:%2/admin.cgi?mode=updinfo&pass=%3&song=%4")
                            .arg(stream.hostname, QString::number(stream.port), percentEncoded(stream.password),
                                 percentEncoded(metadata));
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setTransferTimeout(metadataTimeoutMs);
    return request;
}

QNetworkRequest metadataRequest(const StreamSettings &stream, const QString &metadata)
{
    if (stream.isShoutcast())
        return shoutcastMetadataRequest(stream, metadata);
    // One pass of arg(), so a "%" inside a value is never replaced again. The
    // charset makes an MP3 mount take the title as UTF-8 rather than Latin-1,
    // which drops titles with other letters altogether.
    const QString url = QStringLiteral("%1://%2:%3/admin/metadata?mode=updinfo&mount=/%4&song=%5&charset=UTF-8")
                            .arg(stream.protocol, stream.hostname, QString::number(stream.port), stream.mount,
                                 percentEncoded(metadata));
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    const QByteArray credentials = (stream.user + QLatin1Char(':') + stream.password).toUtf8();
    request.setRawHeader("Authorization", "Basic " + credentials.toBase64());
    request.setTransferTimeout(metadataTimeoutMs);
    trustAsTheStream(request, stream.certificateFile);
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
    if (player.status() == Changing && !player.isPlaying()) {
        const QString line = nowPlayingLine();
        if (!line.isEmpty())
            runTitle = line;
        return;
    }
    onMetadataChange(nowPlayingFile.path());
}

// The server starts each stream without a title: the run's latest goes out
// once the stream's connection takes titles, at the start and after a
// reconnection.
void PlayerModel::sendTitleOnAir(int stream)
{
    if (!runTitle.isEmpty() && player.isOnAir() && player.takesTitleRequests(stream))
        sendTitle(stream, runTitle);
}

QString PlayerModel::nowPlayingLine() const
{
    return firstLine(nowPlayingFile.path());
}

void PlayerModel::onMetadataChange(QString file)
{
    const QString line = firstLine(file);
    if (line.isEmpty())
        return;
    // Also for a stream that waits to reconnect: it sends the line when it is back.
    runTitle = line;
    metadataUpdate(line);
}

void PlayerModel::metadataUpdate(QString metadata)
{
    // Also after a failed update: the stream is still on the air.
    if (!player.isOnAir()) {
        player.reportError(QStringLiteral("Cannot update metadata: stream not connected!"));
        return;
    }
    runTitle = metadata;
    // A stream that does not take titles yet sends the run's latest when it does.
    for (int stream = 0; stream < player.streams().size(); ++stream) {
        if (player.takesTitleRequests(stream))
            sendTitle(stream, metadata);
    }
}

void PlayerModel::sendTitle(int stream, const QString &metadata)
{
    // The server's answer holds for the whole run: it is not asked again.
    if (player.refusesTitles(stream)) {
        player.setSong(metadata, stream);
        return;
    }
    auto *manager = new QNetworkAccessManager(this);
    connect(manager, &QNetworkAccessManager::finished, this,
            [this, manager, stream, metadata](QNetworkReply *reply) {
                metadataReplyHandler(reply, stream, metadata);
                reply->deleteLater();
                manager->deleteLater();
            });
    manager->get(metadataRequest(player.streams().value(stream), metadata));
}

void PlayerModel::metadataReplyHandler(QNetworkReply *reply, int stream, const QString &metadata)
{
    if (reply->error() != QNetworkReply::NoError) {
        // Qt names the URL in the text of an HTTP error status; a Shoutcast
        // title's query holds the password.
        const QUrl url = reply->url();
        const QString error = reply->errorString().replace(url.toString(), url.toString(QUrl::RemoveQuery));
        player.reportMetadataError(stream, QStringLiteral("Error while updating metadata: ") + error);
        return;
    }
    if (reply->readAll().contains(titlesRefused))
        player.setTitlesRefused(stream);
    // The answer to a title that a newer one has replaced, late from a slow
    // server, would bring the old title back to the window, the recording's
    // tracks and the streams' own titles.
    if (metadata == runTitle)
        player.setSong(metadata, stream);
}
