#include "storedvalues.h"

#include "engine/recorder.h"
#include "models/logsmodel.h"

#include <QCoreApplication>

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tavolin"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tavolin.example"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVOLIN_VERSION));
    QCoreApplication::setApplicationName(QStringLiteral("TavolinEncoder"));
}

QVariantMap StoredDefaults::stream()
{
    return {
        {QStringLiteral("name"), QString()},
        {QStringLiteral("description"), QString()},
        {QStringLiteral("genre"), QString()},
        {QStringLiteral("url"), QString()},
        {QStringLiteral("hostname"), QStringLiteral("localhost")},
        {QStringLiteral("port"), 8000},
        {QStringLiteral("mount"), QStringLiteral("live")},
        {QStringLiteral("user"), QStringLiteral("source")},
        {QStringLiteral("password"), QString()},
        {QStringLiteral("encoder"), QStringLiteral("MP3")},
        {QStringLiteral("encoderIndex"), 0},
        {QStringLiteral("protocol"), QStringLiteral("HTTP")},
        {QStringLiteral("protocolIndex"), 0},
        {QStringLiteral("bitrate"), QStringLiteral("128k")},
        {QStringLiteral("bitrateIndex"), 12},
        {QStringLiteral("samplerate"), 44100},
        {QStringLiteral("samplerateIndex"), 4},
        {QStringLiteral("certificateFile"), QString()},
        {QStringLiteral("inStreamTitles"), false},
        {QStringLiteral("listenerUrl"), QString()},
        {QStringLiteral("listenerCheck"), true},
    };
}

QVariantMap StoredDefaults::run()
{
    return {
        {QStringLiteral("reconnect"), false},
        {QStringLiteral("record"), false},
        {QStringLiteral("recordFolder"), defaultRecordingFolder()},
        {QStringLiteral("silenceSeconds"), 30},
    };
}

QVariantMap StoredDefaults::furtherStream()
{
    return {{QStringLiteral("enabled"), true}};
}

QVariantMap StoredDefaults::liveSource()
{
    return {
        {QStringLiteral("currentIndex"), 0},
        {QStringLiteral("deviceIndex"), QString()},
        {QStringLiteral("deviceName"), QString()},
    };
}

QVariantMap StoredDefaults::startup()
{
    return {
        {QStringLiteral("openApplicationOnSystemStartup"), false},
        {QStringLiteral("startStreamOnAppStart"), false},
    };
}

QVariantMap StoredDefaults::nowPlaying()
{
    return {{QStringLiteral("metadataFile"), QString()}};
}

QVariant fittingValue(const QVariant &stored, int type)
{
    // The settings file reads an unquoted value with commas, as a person
    // writes "Rock, Pop", as a list.
    const QString text = stored.userType() == QMetaType::QStringList
        ? stored.toStringList().join(QStringLiteral(", "))
        : stored.toString();
    switch (type) {
    case QMetaType::QString:
        return text;
    case QMetaType::Int: {
        bool ok = false;
        const int number = text.trimmed().toInt(&ok);
        return ok && number >= 0 ? QVariant(number) : QVariant();
    }
    case QMetaType::Bool: {
        const QString word = text.trimmed().toLower();
        if (word == QLatin1String("true") || word == QLatin1String("1"))
            return true;
        if (word == QLatin1String("false") || word == QLatin1String("0"))
            return false;
        return {};
    }
    default: {
        QVariant value = stored;
        return value.convert(type) ? value : QVariant();
    }
    }
}

QVariantMap readStored(const QSettings &store, const QVariantMap &defaults)
{
    QVariantMap values;
    for (auto entry = defaults.cbegin(); entry != defaults.cend(); ++entry) {
        QVariant value = entry.value();
        if (store.contains(entry.key())) {
            const QVariant stored = fittingValue(store.value(entry.key()), entry.value().userType());
            if (stored.isValid())
                value = stored;
            else
                LogsModel::log(QStringLiteral("The stored setting %1 is not valid; its default is used").arg(entry.key()));
        }
        values.insert(entry.key(), value);
    }
    return values;
}

int storedGroupCount(const QSettings &store, const QString &prefix, int first)
{
    const QStringList groups = store.childGroups();
    int count = 0;
    while (groups.contains(prefix + QString::number(first + count)))
        ++count;
    return count;
}

StoredRun readStoredRun()
{
    QSettings store;
    QVariantMap stream = readStored(store, StoredDefaults::stream());
    stream.insert(readStored(store, StoredDefaults::run()));
    QVariantList further;
    const int count = storedGroupCount(store, QStringLiteral("stream"), 2);
    for (int number = 2; number < count + 2; ++number) {
        store.beginGroup(QStringLiteral("stream%1").arg(number));
        QVariantMap settings = readStored(store, StoredDefaults::stream());
        settings.insert(readStored(store, StoredDefaults::furtherStream()));
        store.endGroup();
        if (settings.value(QStringLiteral("enabled")).toBool())
            further << settings;
    }
    const QVariantMap source = readStored(store, StoredDefaults::liveSource());
    QVariantMap settings{{QStringLiteral("stream"), stream},
                         {QStringLiteral("liveSource"),
                          QVariantMap{{QStringLiteral("index"), source.value(QStringLiteral("deviceIndex"))},
                                      {QStringLiteral("name"), source.value(QStringLiteral("deviceName"))}}}};
    if (!further.isEmpty())
        settings.insert(QStringLiteral("streams"), further);
    return {settings, readStored(store, StoredDefaults::nowPlaying()).value(QStringLiteral("metadataFile")).toString()};
}
