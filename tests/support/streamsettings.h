#pragma once

#include <QVariantMap>

class IcecastServer;

// The settings map that the window hands to the Player, for a stream to a
// private test server.
QVariantMap streamSettings(const IcecastServer &server, const QString &source, const QString &mount,
                           int sampleRate = 44100, const QString &bitrate = QStringLiteral("128k"));

// The settings with some values of the "stream" map changed or added.
QVariantMap withStream(QVariantMap settings, const QVariantMap &changes);

// What a listener of a mount ("/live") learns: the stream's name, description,
// genre, URL and content type as the server lists them (once it lists all of
// them, within 10 s), then the codec, sample rate, channels and bit rate that
// ffprobe reads in what the listener receives.
QStringList listenerView(const IcecastServer &server, const QString &mount);
// What listenerView gives for a stream of streamSettings().
QStringList expectedListenerView(int sampleRate, int bitsPerSecond);
