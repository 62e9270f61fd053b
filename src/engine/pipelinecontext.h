#pragma once

#include "capturereader.h"

#include <memory>

extern "C" {
struct AVCodecContext;
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
    // Opens, reads and closes the capture device on a thread of its own.
    std::unique_ptr<CaptureReader> capture;
    // The capture device's format context, lent by capture for the set-up.
    AVFormatContext *inputFormat = nullptr;
    AVFormatContext *outputFormat = nullptr;
    AVCodecContext *decoder = nullptr;
    AVCodecContext *encoder = nullptr;
    AVFilterContext *sinkFilter = nullptr;
    AVFilterContext *sourceFilter = nullptr;
    AVFilterGraph *filterGraph = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *decodedFrame = nullptr;
    AVFrame *filteredFrame = nullptr;
    int inputStreamIndex = 0;
    int outputStreamIndex = 0;
};

// Stages of a run. Each returns 0 (encodeAndWrite: -11 after a frame) or a
// negative FFmpeg error code, having reported what the user must see.
int openInput(PipelineContext &context);
int openOutput(PipelineContext &context);
int initFilters(PipelineContext &context);
int encodeAndWrite(PipelineContext &context, AVFrame *frame);

// Frees the encoder, closes the server connection and frees the output.
void closeOutput(PipelineContext &context);

// Frees every object of the context that is set; safe on a zeroed context.
void releasePipeline(PipelineContext &context);

// Interrupts blocking FFmpeg calls of the run (not of the capture reader)
// once the owning Player is being destroyed.
int interruptWhenOwnerDestroyed(void *owner);
