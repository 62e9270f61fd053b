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
    settings.listenerUrl = text("listenerUrl").trimmed();
    settings.listenerCheck = stream.value(QStringLiteral("listenerCheck"), true).toBool();
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

namespace {

// A DNAS 2 stream id, written after the password: "password:#2"; 1 without one.
int shoutcastStreamId(const QString &password)
{
    const int mark = password.lastIndexOf(QStringLiteral(":#"));
    bool ok = false;
    const int id = mark < 0 ? 1 : password.mid(mark + 2).toInt(&ok);
    return ok && id > 0 ? id : 1;
}

} // namespace

QString StreamSettings::listenerAddress() const
{
    if (!listenerUrl.isEmpty())
        return listenerUrl;
    if (!isShoutcast())
        return QStringLiteral("%1://%2:%3/%4").arg(protocol, hostname, QString::number(port), mount);
    const int id = shoutcastStreamId(password);
    return QStringLiteral("http://%1:%2/").arg(hostname, QString::number(port))
        + (id > 1 ? QStringLiteral("stream/%1/").arg(id) : QString());
}

QString StreamSettings::listenerCountAddress() const
{
    if (!isShoutcast())
        return QStringLiteral("%1://%2:%3/status-json.xsl").arg(protocol, hostname, QString::number(port));
    return QStringLiteral("http://%1:%2/stats?sid=%3&json=1")
        .arg(hostname, QString::number(port), QString::number(shoutcastStreamId(password)));
}

QString StreamSettings::listenerCountFallbackAddress() const
{
    return isShoutcast() ? QStringLiteral("http://%1:%2/7.html").arg(hostname, QString::number(port)) : QString();
}

bool StreamSettings::hasFormatOf(const StreamSettings &other) const
{
    return codec.shownName == other.codec.shownName && sampleRate == other.sampleRate
        && (!codec.takesBitrate || bitrate == other.bitrate);
}
