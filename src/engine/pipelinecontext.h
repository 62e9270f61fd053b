#pragma once

#include "capturereader.h"
#include "recorder.h"
#include "streamsender.h"
#include "streamsettings.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

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

// The channel layout that every stream is encoded in.
inline const QString streamChannelLayout = QStringLiteral("stereo");

// One encoder of a run and what it feeds: the streams of its format and,
// for the first stream's, the recording.
struct Encoding
{
    // The format, as the first stream of it has it.
    StreamSettings format;
    AVCodecContext *encoder = nullptr;
    // Where the filter graph hands over the encoder's frames.
    AVFilterContext *sinkFilter = nullptr;
    // The senders of its streams.
    std::vector<StreamSender *> senders;
    // The encoder's timestamps, counted in samples: a capture clock that
    // jitters or drifts against the system clock must not make them go back.
    int64_t nextPts = 0;
    // The graph's output has ended and the encoder has been drained.
    bool drained = false;
};

// The FFmpeg objects of one run: zeroed at its start, filled by the stages,
// released by the loop's cleanup. The job thread alone touches it.
struct PipelineContext
{
    Player *owner = nullptr;
    // Opens, reads and closes the capture device on a thread of its own.
    std::unique_ptr<CaptureReader> capture;
    // The capture device's format context, lent by capture for the set-up.
    AVFormatContext *inputFormat = nullptr;
    // The device's metadata, copied at the set-up into every output: the
    // input itself belongs to the capture thread by then.
    AVDictionary *inputMetadata = nullptr;
    AVCodecContext *decoder = nullptr;
    AVFilterContext *sourceFilter = nullptr;
    AVFilterGraph *filterGraph = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *decodedFrame = nullptr;
    AVFrame *filteredFrame = nullptr;
    // One per distinct format of the run's streams; the first is the first
    // stream's, whose frames drive the meters and whose packets are recorded.
    std::vector<Encoding> encodings;
    // One per stream, in the run's order.
    std::vector<std::unique_ptr<StreamSender>> senders;
    // The run's local recording, when the user wants one; it gets every
    // packet of the first stream's encoder, whatever its server does.
    std::unique_ptr<Recorder> recorder;
    int inputStreamIndex = 0;
};

// Stages of a run. Each returns 0 (encodeAndSend: -11 after a frame) or a
// negative FFmpeg error code, having reported what the user must see.
int openInput(PipelineContext &context);
// The encoders of the run's formats, before the filter graph that takes
// their frame sizes and sample formats.
int openEncoders(PipelineContext &context);
int initFilters(PipelineContext &context);
// Starts one sender per stream, each on its own thread.
int startSenders(PipelineContext &context);
// Encodes a frame of the encoding (none: drains it) and hands its packets to
// the recording and to the queues of its streams.
int encodeAndSend(PipelineContext &context, Encoding &encoding, AVFrame *frame);

// Whether the run's packets go to a recording that is still going.
bool isRecording(const PipelineContext &context);

// Ends every sender: each sends what it has, ends its stream and closes its
// connection, given a moment to do so before it is abandoned.
void finishSenders(PipelineContext &context);
// Frees every object of the context that is set; safe on a zeroed context.
void releasePipeline(PipelineContext &context);
