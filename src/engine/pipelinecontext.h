#pragma once

#include "capturereader.h"
#include "codec.h"
#include "recorder.h"

#include <QString>

#include <cstdint>
#include <memory>

extern "C" {
struct AVCodecContext;
struct AVDictionary;
struct AVFilterContext;
struct AVFilterGraph;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
}

class Player;

// The FFmpeg objects of one run: zeroed at its start, filled by the stages,
// released by the loop's cleanup.
struct PipelineContext
{
    Player *owner = nullptr;
    // The run's codec, as the Player chose it at the start.
    Codec codec;
    // The latest title of the run, which the comment header of every new Ogg
    // stream carries; empty until the first.
    QString title;
    // Opens, reads and closes the capture device on a thread of its own.
    std::unique_ptr<CaptureReader> capture;
    // The capture device's format context, lent by capture for the set-up.
    AVFormatContext *inputFormat = nullptr;
    // The device's metadata, copied at the set-up into every output: the
    // input itself belongs to the capture thread by then.
    AVDictionary *inputMetadata = nullptr;
    // Set while the server connection is open; empty while the run waits to
    // connect again.
    AVFormatContext *outputFormat = nullptr;
    AVCodecContext *decoder = nullptr;
    AVCodecContext *encoder = nullptr;
    AVFilterContext *sinkFilter = nullptr;
    AVFilterContext *sourceFilter = nullptr;
    AVFilterGraph *filterGraph = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *decodedFrame = nullptr;
    AVFrame *filteredFrame = nullptr;
    // The run's local recording, when the user wants one; it gets every
    // packet the encoder makes, also while the server connection is down.
    std::unique_ptr<Recorder> recorder;
    // Samples written to the connection since it was opened: an Ogg stream
    // takes title requests once a second of them is out.
    int64_t samplesSent = 0;
    int inputStreamIndex = 0;
    int outputStreamIndex = 0;
    // The user's choice: a connection that fails in a way that may pass is
    // tried again rather than ending the run.
    bool reconnects = false;
    // The user's choice: each new title starts a new chain of the Ogg stream.
    bool inStreamTitles = false;
    // While the run tries to connect again a stop interrupts the connection.
    bool reconnecting = false;
    // Set by a stage whose connection failed in a way that may pass when the
    // run reconnects: the code, which the stage then reports to nobody.
    int passingFailure = 0;
};

// Where a connection failure happened: connecting, or sending the stream.
enum class ConnectionStep { Connect, Send };

// Stages of a run. Each returns 0 (encodeAndWrite: -11 after a frame) or a
// negative FFmpeg error code, having reported what the user must see; a lost
// connection that the run outlives is the run's to tell.
int openInput(PipelineContext &context);
// The encoder alone, before the filter graph that takes its frame size and
// sample format, and again for every new connection.
int openEncoder(PipelineContext &context);
// Connects and starts the stream of the open encoder; on failure it closes
// the connection again but keeps the encoder.
int openOutput(PipelineContext &context);
// Ends the Ogg stream on the air and starts a new chain on its connection,
// with the headers of the open encoder and a comment header that carries the
// context's title. On failure the connection is closed, as by a failed write.
int startNewChain(PipelineContext &context);
int initFilters(PipelineContext &context);
int encodeAndWrite(PipelineContext &context, AVFrame *frame);

// Frees the encoder, closes the server connection and frees the output.
void closeOutput(PipelineContext &context);
// Closes the server connection and frees the output, keeping the encoder.
void closeConnection(PipelineContext &context);
// Whether the run's packets go to a recording that is still going.
bool isRecording(const PipelineContext &context);

// Reports a failed connection through the Player, unless the run will
// connect again (then it only sets passingFailure) or a stop cut a try short.
void reportConnectionFailure(PipelineContext &context, ConnectionStep step, const QString &message, int code);

// Frees every object of the context that is set; safe on a zeroed context.
void releasePipeline(PipelineContext &context);

// Interrupts blocking FFmpeg calls of the run (not of the capture reader)
// once the owning Player is being destroyed, and a try to connect again once
// a stop is requested. Its argument is the run's PipelineContext.
int interruptRun(void *context);
