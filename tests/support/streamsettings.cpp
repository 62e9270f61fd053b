#include "streamsettings.h"

#include "icecastserver.h"
#include "waituntil.h"

#include <QJsonObject>

QVariantMap streamSettings(const IcecastServer &server, const QString &source, const QString &mount,
                           int sampleRate, const QString &bitrate)
{
    const QVariantMap stream{
        {QStringLiteral("bitrate"), bitrate},
        {QStringLiteral("samplerate"), sampleRate},
        {QStringLiteral("user"), server.sourceUser()},
        {QStringLiteral("password"), server.sourcePassword()},
        {QStringLiteral("hostname"), server.host()},
        {QStringLiteral("port"), server.port()},
        {QStringLiteral("protocol"), QStringLiteral("HTTP")},
        {QStringLiteral("mount"), mount},
        {QStringLiteral("name"), QStringLiteral("Tavolin Test FM")},
        {QStringLiteral("description"), QStringLiteral("Loopback test stream")},
        {QStringLiteral("genre"), QStringLiteral("Test tones")},
        {QStringLiteral("url"), QStringLiteral("http://radio.invalid/")},
    };
    const QVariantMap liveSource{{QStringLiteral("index"), source},
                                 {QStringLiteral("name"), QStringLiteral("Tone generator")}};
    return {{QStringLiteral("stream"), stream}, {QStringLiteral("liveSource"), liveSource}};
}

QVariantMap withStream(QVariantMap settings, const QVariantMap &changes)
{
    QVariantMap stream = settings.value(QStringLiteral("stream")).toMap();
    for (auto change = changes.cbegin(); change != changes.cend(); ++change)
        stream.insert(change.key(), change.value());
    settings.insert(QStringLiteral("stream"), stream);
    return settings;
}

QStringList listenerView(const IcecastServer &server, const QString &mount)
{
    const QStringList keys{QStringLiteral("server_name"), QStringLiteral("server_description"),
                           QStringLiteral("genre"), QStringLiteral("server_url"), QStringLiteral("server_type")};
    QStringList view;
    waitUntil(10000, [&] {
        const QJsonObject listed = server.mountStatus(mount);
        view.clear();
        for (const QString &key : keys) {
            if (!listed.contains(key))
                return false;
            view << listed.value(key).toString();
        }
        return true;
    });
    const QJsonObject stream = server.probeListener(mount, 4000);
    return view << stream.value(QStringLiteral("codec_name")).toString()
                << stream.value(QStringLiteral("sample_rate")).toString()
                << QString::number(stream.value(QStringLiteral("channels")).toInt())
                << stream.value(QStringLiteral("bit_rate")).toString();
}

QStringList expectedListenerView(int sampleRate, int bitsPerSecond)
{
    return {QStringLiteral("Tavolin Test FM"), QStringLiteral("Loopback test stream"), QStringLiteral("Test tones"),
            QStringLiteral("http://radio.invalid/"), QStringLiteral("audio/mpeg"), QStringLiteral("mp3"),
            QString::number(sampleRate), QStringLiteral("2"), QString::number(bitsPerSecond)};
}
