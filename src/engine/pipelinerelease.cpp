#include "pipelinecontext.h"
#include "player.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

void releasePipeline(PipelineContext &context)
{
    av_packet_free(&context.packet);
    avfilter_graph_free(&context.filterGraph);
    context.sourceFilter = nullptr;
    context.sinkFilter = nullptr;
    avcodec_free_context(&context.decoder);
    context.inputFormat = nullptr;
    av_dict_free(&context.inputMetadata);
    context.capture.reset();
    context.recorder.reset();
    closeOutput(context);
    av_frame_free(&context.decodedFrame);
    av_frame_free(&context.filteredFrame);
}

int interruptRun(void *context)
{
    // Only the job thread runs the calls that ask, so the flag needs no lock.
    const PipelineContext &run = *static_cast<const PipelineContext *>(context);
    const Player &owner = *run.owner;
    return owner.isBeingDestroyed() || (run.reconnecting && owner.isStopRequested()) ? 1 : 0;
}
