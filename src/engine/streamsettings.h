#pragma once

#include "codec.h"

#include <QString>
#include <QVariantMap>

// One stream of a run: the server it goes to and the format it is encoded
// in, as the window stores it. A run has one or more; the settings that are
// the run's (device, reconnecting, recording, silence) stay on the Player.
struct StreamSettings
{
    Codec codec;
    QString bitrate;
    // The rate it encodes at: the chosen one, or the codec's own.
    int sampleRate = 0;
    QString user;
    QString password;
    QString hostname;
    int port = 0;
    // "http", "https" or "shoutcast".
    QString protocol;
    QString mount;
    QString name;
    QString description;
    QString genre;
    QString url;
    QString certificateFile;
    // Each new title starts a new chain of its Ogg stream.
    bool inStreamTitles = false;

    // The window's map of one stream. No defaults and no validation: only
    // "inStreamTitles" may be absent, from maps made before it existed.
    static StreamSettings fromMap(const QVariantMap &stream);

    bool isShoutcast() const { return protocol == QLatin1String("shoutcast"); }
    // How the window and the log name it: its name, else host:port/mount
    // (a Shoutcast server has no mount).
    QString label() const;
    // "MP3 128k 44100 Hz"; "FLAC 44100 Hz", which takes no bit rate.
    QString formatText() const;
    // Where its source connects: the Icecast URL with the credentials, or the
    // Shoutcast server's source port.
    QString outputUrl() const;
    // Whether the encoded bytes are the same: then one encoder serves both.
    bool hasFormatOf(const StreamSettings &other) const;
};
