#pragma once

#include <QVariantMap>

class IcecastServer;

// The settings map that the window hands to the Player, for a stream to a
// private test server.
QVariantMap streamSettings(const IcecastServer &server, const QString &source, const QString &mount,
                           int sampleRate = 44100, const QString &bitrate = QStringLiteral("128k"));

// The settings with some values of the "stream" map changed or added.
QVariantMap withStream(QVariantMap settings, const QVariantMap &changes);

// The stream's fields as the server lists them for a mount ("/live"): name,
// description, genre, URL and content type, once it lists all of them (it
// lists them one by one); empty when it has not within 10 s.
QStringList listedStreamFields(const IcecastServer &server, const QString &mount);
// What listedStreamFields gives for a stream of streamSettings().
QStringList expectedStreamFields();
