#include "station.h"

#include "models/playermodel.h"

#include <QJsonArray>

namespace {

QJsonObject answer(bool ok, const QString &message)
{
    return {{QStringLiteral("ok"), ok}, {QStringLiteral("message"), message}};
}

} // namespace

Station::Station(PlayerModel &model, Actions actions)
    : m_model(model)
    , m_actions(std::move(actions))
{
}

QJsonObject Station::carryOut(const QString &command, const QString &text)
{
    const Player &player = m_model.engine();
    // A run being set up or stopped takes no tap, as the play button.
    const bool running = player.isPlaying() || player.status() == Changing;
    QJsonObject result = answer(true, QString());
    if (command == QLatin1String("start")) {
        const QString refused = running ? QString() : m_actions.start();
        result = refused.isEmpty() ? answer(true, running ? QStringLiteral("The stream is running already")
                                                          : QStringLiteral("The stream starts"))
                                   : answer(false, refused);
    } else if (command == QLatin1String("stop")) {
        const bool playing = player.isPlaying();
        if (playing)
            m_actions.stop();
        // A run still being set up takes no stop yet: it is refused, not
        // answered as a stream that is not running.
        result = playing ? answer(true, QStringLiteral("The stream stops"))
            : running    ? answer(false, QStringLiteral("The stream is being set up; stop it once it is on the air"))
                         : answer(true, QStringLiteral("The stream is not running"));
    } else if (command == QLatin1String("title")) {
        if (!player.isOnAir())
            return answer(false, QStringLiteral("Cannot update metadata: stream not connected!"));
        m_model.metadataUpdate(text);
        result = answer(true, QStringLiteral("The title goes out"));
    } else if (command == QLatin1String("quit")) {
        m_actions.quit();
        result = answer(true, QStringLiteral("Tavolin Encoder ends"));
    } else if (command == QLatin1String("show")) {
        result = answer(true, m_actions.show());
    } else if (command != QLatin1String("status")) {
        return answer(false, QStringLiteral("Unknown command: ") + command);
    }
    result.insert(QStringLiteral("status"), status());
    return result;
}

QJsonObject Station::status() const
{
    const Player &player = m_model.engine();
    const QModelIndex row = m_model.index(0, 0);
    QJsonArray streams;
    for (const QVariant &stream : m_model.data(row, PlayerModel::StreamsRole).toList()) {
        const QVariantMap values = stream.toMap();
        QJsonObject entry;
        for (const char *key : {"label", "format", "state", "heard"})
            entry.insert(QLatin1String(key), values.value(QLatin1String(key)).toString());
        const int listeners = values.value(QStringLiteral("listeners")).toInt();
        if (listeners >= 0)
            entry.insert(QStringLiteral("listeners"), listeners);
        streams.append(entry);
    }
    return {
        {QStringLiteral("status"), m_model.data(row, PlayerModel::StatusRole).toString()},
        {QStringLiteral("error"), player.status() == Error ? player.errorText() : QString()},
        {QStringLiteral("elapsed"), player.isPlaying() ? int(player.elapsed()) : 0},
        {QStringLiteral("nowPlaying"), player.isPlaying() ? player.song() : QString()},
        {QStringLiteral("streams"), streams},
        {QStringLiteral("recording"), player.recordingFile()},
        {QStringLiteral("deadAir"), m_model.deadAirSeconds()},
    };
}

QString statusText(const QJsonObject &status)
{
    QStringList lines{QStringLiteral("Status: ") + status.value(QStringLiteral("status")).toString()};
    const QString error = status.value(QStringLiteral("error")).toString();
    if (!error.isEmpty())
        lines << QStringLiteral("Error: ") + error;
    lines << QStringLiteral("Elapsed: ") + PlayerModel::elapsedText(status.value(QStringLiteral("elapsed")).toInt());
    lines << QStringLiteral("Now playing: ") + status.value(QStringLiteral("nowPlaying")).toString();
    for (const QJsonValue &value : status.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject stream = value.toObject();
        QStringList parts{stream.value(QStringLiteral("state")).toString()};
        if (stream.contains(QStringLiteral("listeners")))
            parts << QStringLiteral("%1 listeners").arg(stream.value(QStringLiteral("listeners")).toInt());
        parts << stream.value(QStringLiteral("heard")).toString();
        parts.removeAll(QString());
        lines << QStringLiteral("Stream %1 (%2): %3")
                     .arg(stream.value(QStringLiteral("label")).toString(),
                          stream.value(QStringLiteral("format")).toString(), parts.join(QStringLiteral(", ")));
    }
    lines << QStringLiteral("Recording: ") + status.value(QStringLiteral("recording")).toString();
    lines << QStringLiteral("Dead air: %1 s").arg(status.value(QStringLiteral("deadAir")).toInt());
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
