#pragma once

#include "streamsettings.h"

#include <QString>

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>

struct AVCodecParameters;
struct AVDictionary;
struct AVFormatContext;
struct AVPacket;
}

class Player;
class SendQueue;

// The connection of one stream of a run and what its muxer needs: the
// sender's thread alone touches it.
struct StreamContext
{
    Player *owner = nullptr;
    // The stream's place in the run, by which the Player knows it.
    int index = 0;
    StreamSettings settings;
    SendQueue *queue = nullptr;
    // What the stream's encoder made of its settings, for every header.
    AVCodecParameters *codecParameters = nullptr;
    AVRational encoderTimeBase{0, 1};
    // The capture device's metadata, copied into every output.
    AVDictionary *inputMetadata = nullptr;
    // Set while the connection is open.
    AVFormatContext *outputFormat = nullptr;
    // The title that the next comment header of an Ogg stream carries.
    QString title;
    // Each connection and each chain starts its timestamps at 0: the first
    // packet's, subtracted from all.
    int64_t firstPts = 0;
    bool started = false;
    // Samples written to the connection since it was opened: an Ogg stream
    // takes title requests once a second of them is out.
    int64_t samplesSent = 0;
    // The user's choice: a connection that fails in a way that may pass is
    // tried again rather than ending the stream.
    bool reconnects = false;
    // While connecting, a stop interrupts the connection.
    bool connecting = false;
    // Whether a try to connect again is under way, whose failure a stop makes
    // the run's to tell no more.
    bool reconnecting = false;
    // Set by a stage whose connection failed in a way that may pass when the
    // stream reconnects: the code, which the stage then reports to nobody.
    int passingFailure = 0;
};

// Where a connection failure happened: connecting, or sending the stream.
enum class ConnectionStep { Connect, Send };

// The stages of a stream's connection. Each returns 0 or a negative FFmpeg
// error code, having reported what the user must see (see
// reportConnectionFailure).

// Connects and starts the stream: its header, with a comment header that
// carries the context's title for an Ogg stream. On failure the connection is
// closed again.
int openOutput(StreamContext &context);
// Ends the Ogg stream on the air and starts a new chain on its connection,
// with the headers of its encoder and a comment header that carries the
// context's title. On failure the connection is closed, as by a failed write.
int startNewChain(StreamContext &context);
// Sends one packet of the stream's encoder; the packet is used up.
int writePacket(StreamContext &context, AVPacket *packet);
// Ends the stream (its trailer) and closes the connection.
int finishOutput(StreamContext &context);
// Closes the connection and frees the output; safe without one.
void closeConnection(StreamContext &context);

// Reports a failed connection through the Player, unless the stream will
// connect again (then it only sets passingFailure) or a stop cut a try short.
void reportConnectionFailure(StreamContext &context, ConnectionStep step, const QString &message, int code);

// Interrupts the blocking FFmpeg calls of a stream's connection once its
// Player is being destroyed, its queue is abandoned or overflowed, or a stop
// comes while it connects. Its argument is the StreamContext.
int interruptStream(void *context);
