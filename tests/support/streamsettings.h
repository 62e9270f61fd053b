#pragma once

#include <QVariantMap>

class IcecastServer;

// The settings map that the window hands to the Player, for a stream to a
// private test server.
QVariantMap streamSettings(const IcecastServer &server, const QString &source, const QString &mount,
                           int sampleRate = 44100, const QString &bitrate = QStringLiteral("128k"));

// The settings with some values of the "stream" map changed or added.
QVariantMap withStream(QVariantMap settings, const QVariantMap &changes);
