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
    context.capture.reset();
    closeOutput(context);
    av_frame_free(&context.decodedFrame);
    av_frame_free(&context.filteredFrame);
}

int interruptWhenOwnerDestroyed(void *owner)
{
    return static_cast<const Player *>(owner)->isBeingDestroyed() ? 1 : 0;
}
