#include "listenerwatch.h"

#include "engine/listenedaudio.h"
#include "engine/player.h"
#include "engine/trustbundle.h"
#include "models/listenerfetch.h"
#include "models/logsmodel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTime>

#include <utility>

namespace {

constexpr int firstVisitMs = 5000;
constexpr int visitEveryMs = 10 * 60 * 1000;
constexpr int visitAgainMs = 60 * 1000;
constexpr int countEveryMs = 30000;
constexpr int requestMs = 5000;
// Quieter than this, a listener hears silence.
constexpr double silentBelowDb = -60.0;
// What a listener hears left the input about this long before: the input
// counts as sounding when it had sound within it.
constexpr qint64 soundWithinMs = 10000;

QString described(const QString &codec, int sampleRate)
{
    return QStringLiteral("%1 %2 Hz").arg(codec).arg(sampleRate);
}

// The listeners of the mount in Icecast's status-json.xsl, or "currentlisteners"
// of a Shoutcast server's /stats, or the first number of its /7.html; -1 for none.
int listenerCount(const QByteArray &answer, const StreamSettings &stream, bool fallback)
{
    if (fallback) {
        const int body = answer.indexOf("<body>");
        bool ok = false;
        const int count = answer.mid(body + 6).split(',').constFirst().toInt(&ok);
        return body >= 0 && ok ? count : -1;
    }
    const QJsonObject object = QJsonDocument::fromJson(answer).object();
    if (stream.isShoutcast())
        return object.value(QStringLiteral("currentlisteners")).toInt(-1);
    const QJsonValue source = object.value(QStringLiteral("icestats")).toObject().value(QStringLiteral("source"));
    // One live mount is an object, several are an array.
    const QJsonArray sources = source.isArray() ? source.toArray() : QJsonArray{source};
    for (const QJsonValue &entry : sources) {
        const QJsonObject mount = entry.toObject();
        if (mount.value(QStringLiteral("listenurl")).toString().endsWith(QLatin1Char('/') + stream.mount))
            return mount.value(QStringLiteral("listeners")).toInt(-1);
    }
    return -1;
}

} // namespace

struct ListenerWatch::Watched
{
    QTimer visitTimer;
    QTimer countTimer;
    std::unique_ptr<ListenerFetch> fetch;
    Shown shown;
    // What the log said last: each result is logged once when it changes.
    QString logged;
    bool noCountLogged = false;
};

ListenerWatch::ListenerWatch(Player &player)
    : m_player(player)
{
}

ListenerWatch::~ListenerWatch() = default;

ListenerWatch::Watched &ListenerWatch::watched(int stream)
{
    while (int(m_watched.size()) <= stream) {
        const int index = int(m_watched.size());
        m_watched.push_back(std::make_unique<Watched>());
        Watched &added = *m_watched.back();
        added.visitTimer.setSingleShot(true);
        added.countTimer.setSingleShot(true);
        connect(&added.visitTimer, &QTimer::timeout, this, [this, index] { visit(index); });
        connect(&added.countTimer, &QTimer::timeout, this, [this, index] { requestCount(index, false); });
    }
    return *m_watched.at(size_t(stream));
}

ListenerWatch::Shown ListenerWatch::shown(int stream) const
{
    return stream < int(m_watched.size()) ? m_watched.at(size_t(stream))->shown : Shown();
}

void ListenerWatch::streamOnAir(int stream)
{
    Watched &watching = watched(stream);
    if (m_player.streams().value(stream).listenerCheck)
        watching.visitTimer.start(firstVisitMs);
    watching.countTimer.start(firstVisitMs);
}

void ListenerWatch::runEnded()
{
    ++m_run;
    m_watched.clear();
    emit changed();
}

void ListenerWatch::visit(int stream)
{
    Watched &watching = watched(stream);
    if (watching.fetch || !m_player.isStreamOnAir(stream))
        return;
    const StreamSettings settings = m_player.streams().value(stream);
    watching.fetch = std::make_unique<ListenerFetch>(QUrl(settings.listenerAddress(), QUrl::TolerantMode),
                                                     settings.certificateFile);
    connect(watching.fetch.get(), &ListenerFetch::finished, this, [this, stream] { visited(stream); });
    watching.fetch->start();
}

void ListenerWatch::visited(int stream)
{
    Watched &watching = watched(stream);
    // Deleted once its signal has returned.
    ListenerFetch *fetch = watching.fetch.release();
    fetch->deleteLater();
    const QString problem = problemOf(*fetch, m_player.streams().value(stream));
    const QString result = problem.isEmpty() ? QStringLiteral("A listener hears the stream") : problem;
    if (result != watching.logged)
        m_player.logStream(stream, result);
    watching.logged = result;
    Shown shown = watching.shown;
    shown.heardWell = problem.isEmpty();
    shown.heard = problem.isEmpty()
        ? QStringLiteral("Heard by a listener ") + QTime::currentTime().toString(QStringLiteral("HH:mm"))
        : problem;
    show(stream, shown);
    if (m_player.isStreamOnAir(stream))
        watching.visitTimer.start(problem.isEmpty() ? visitEveryMs : visitAgainMs);
}

QString ListenerWatch::problemOf(const ListenerFetch &fetch, const StreamSettings &stream) const
{
    if (!fetch.error().isEmpty())
        return QStringLiteral("The listener address does not answer (error %1)").arg(fetch.error());
    // 403 is a full server or a refused address as often as a login.
    if (fetch.status() == 401)
        return QStringLiteral("The server asks listeners for a password");
    if (fetch.status() != 200)
        return QStringLiteral("Listeners get nothing from the server");
    const QString wanted = QString::fromLatin1(stream.codec.contentType);
    if (fetch.contentType() != wanted)
        return QStringLiteral("Listeners get another stream (%1, wanted %2)").arg(fetch.contentType(), wanted);
    const ListenedAudio heard = decodeListened(fetch.body());
    if (heard.samples == 0)
        return QStringLiteral("Listeners get nothing from the server");
    const QString codec = stream.codec.shownName.toLower();
    if (heard.codecName != codec || heard.sampleRate != stream.sampleRate)
        return QStringLiteral("Listeners get another stream (%1, wanted %2)")
            .arg(described(heard.codecName, heard.sampleRate), described(codec, stream.sampleRate));
    const qint64 sinceSound = m_player.msSinceSound();
    if (heard.levelDb < silentBelowDb && sinceSound >= 0 && sinceSound < soundWithinMs)
        return QStringLiteral("Listeners hear silence");
    return QString();
}

void ListenerWatch::requestCount(int stream, bool fallback)
{
    if (!m_player.isStreamOnAir(stream))
        return;
    const StreamSettings settings = m_player.streams().value(stream);
    const QUrl address(fallback ? settings.listenerCountFallbackAddress() : settings.listenerCountAddress(),
                       QUrl::TolerantMode);
    QNetworkRequest request(address);
    request.setRawHeader("User-Agent", ListenerFetch::userAgent);
    request.setTransferTimeout(requestMs);
    trustAsTheStream(request, settings.certificateFile);
    QNetworkReply *reply = m_network.get(request);
    const int run = m_run;
    connect(reply, &QNetworkReply::finished, this, [this, stream, reply, fallback, run] {
        reply->deleteLater();
        if (run == m_run)
            countRead(stream, reply, fallback);
    });
}

void ListenerWatch::countRead(int stream, QNetworkReply *reply, bool fallback)
{
    const StreamSettings settings = m_player.streams().value(stream);
    int count = reply->error() == QNetworkReply::NoError ? listenerCount(reply->readAll(), settings, fallback) : -1;
    if (count < 0 && !fallback && settings.isShoutcast())
        return requestCount(stream, true);
    Watched &watching = watched(stream);
    // Our own listener, while it visits, is none of the station's.
    if (count > 0 && watching.fetch)
        --count;
    if (count < 0 && !std::exchange(watching.noCountLogged, true))
        m_player.logStream(stream, QStringLiteral("The server tells no listener count"));
    Shown shown = watching.shown;
    shown.listeners = count;
    show(stream, shown);
    if (m_player.isStreamOnAir(stream))
        watching.countTimer.start(countEveryMs);
}

void ListenerWatch::show(int stream, const Shown &shown)
{
    Shown &current = watched(stream).shown;
    if (current.heard == shown.heard && current.heardWell == shown.heardWell && current.listeners == shown.listeners)
        return;
    current = shown;
    emit changed();
}
