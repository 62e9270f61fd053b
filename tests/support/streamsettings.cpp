#include "streamsettings.h"

#include "icecastserver.h"

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
