#pragma once

#include <QByteArray>
#include <QString>

// The Shoutcast (version 1) source protocol, which Shoutcast DNAS and Icecast's
// shoutcast-mount take on the server's port + 1: the source sends its password
// on a line of its own, the server answers "OK2" and header lines when it takes
// it, then the source sends the stream's icy- headers, an empty line and the
// audio. These functions build and read those texts; they touch no socket.

// What the stream tells the server and its listeners.
struct ShoutcastStream
{
    QString name;
    QString genre;
    QString url;
    QString description;
    // In bits per second; the header gives kbit/s.
    qint64 bitsPerSecond = 0;
    QString contentType;
};

// The first line a source sends. A DNAS 2 stream id goes with the password as
// its users write it: "password:#2".
QByteArray shoutcastPasswordLine(const QString &password);

// The header block that follows the server's acceptance, ending with the empty line.
QByteArray shoutcastHeaders(const ShoutcastStream &stream);

enum class ShoutcastAnswer { Incomplete, Accepted, Refused };

// The server's answer as far as it has arrived: accepted once its first line
// is "OK2" (or "OK"); any other first line ("invalid password") is a refusal,
// and so is a first line too long to be an answer.
ShoutcastAnswer readShoutcastAnswer(const QByteArray &received);
