#include "streamsettings.h"

#include "icecasturl.h"

StreamSettings StreamSettings::fromMap(const QVariantMap &stream)
{
    StreamSettings settings;
    const auto text = [&stream](const char *key) { return stream.value(QLatin1String(key)).toString(); };
    settings.codec = codecOf(text("encoder"));
    settings.bitrate = text("bitrate");
    settings.sampleRate = settings.codec.fixedSampleRate ? settings.codec.fixedSampleRate
                                                         : stream.value(QStringLiteral("samplerate")).toInt();
    settings.user = text("user");
    settings.password = text("password");
    settings.hostname = text("hostname");
    settings.port = stream.value(QStringLiteral("port")).toInt();
    settings.protocol = text("protocol").toLower();
    settings.mount = text("mount");
    settings.name = text("name");
    settings.description = text("description");
    settings.genre = text("genre");
    settings.url = text("url");
    settings.certificateFile = text("certificateFile");
    settings.inStreamTitles = settings.codec.oggStream && stream.value(QStringLiteral("inStreamTitles")).toBool();
    return settings;
}

QString StreamSettings::label() const
{
    if (!name.isEmpty())
        return name;
    const QString address = QStringLiteral("%1:%2").arg(hostname).arg(port);
    return isShoutcast() ? address : address + QLatin1Char('/') + mount;
}

QString StreamSettings::formatText() const
{
    const QString rate = QStringLiteral("%1 Hz").arg(sampleRate);
    return codec.shownName + QLatin1Char(' ') + (codec.takesBitrate ? bitrate + QLatin1Char(' ') : QString()) + rate;
}

QString StreamSettings::outputUrl() const
{
    return isShoutcast() ? shoutcastUrl(hostname, port) : icecastUrl(user, password, hostname, port, mount);
}

bool StreamSettings::hasFormatOf(const StreamSettings &other) const
{
    return codec.shownName == other.codec.shownName && sampleRate == other.sampleRate
        && (!codec.takesBitrate || bitrate == other.bitrate);
}
