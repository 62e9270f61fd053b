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
    // Where its listeners go, when not where the settings above say (a relay,
    // a proxy); empty: worked out.
    QString listenerUrl;
    // Whether the run checks now and then what its listeners get.
    bool listenerCheck = true;

    // The window's map of one stream. No defaults and no validation: only
    // "inStreamTitles", "listenerUrl" and "listenerCheck" may be absent, from
    // maps made before they existed.
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
    // Where a listener hears it: listenerUrl, else the server's mount, or a
    // Shoutcast server's root ("/stream/2/" for the stream id of "password:#2").
    QString listenerAddress() const;
    // Where the server tells its listener count: Icecast's status-json.xsl,
    // or a Shoutcast server's /stats; the fallback /7.html.
    QString listenerCountAddress() const;
    QString listenerCountFallbackAddress() const;
    // Whether the encoded bytes are the same: then one encoder serves both.
    bool hasFormatOf(const StreamSettings &other) const;
};
