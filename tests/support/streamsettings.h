#pragma once

#include <QVariantMap>

class IcecastServer;

// The settings map that the window hands to the Player, for a stream to a
// private test server.
QVariantMap streamSettings(const IcecastServer &server, const QString &source, const QString &mount,
                           int sampleRate = 44100, const QString &bitrate = QStringLiteral("128k"));
