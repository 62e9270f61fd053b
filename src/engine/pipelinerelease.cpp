#include "pipelinecontext.h"
#include "player.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

void releasePipeline(PipelineContext &context)
{
    // The senders first: their threads may still look at what they were given.
    context.senders.clear();
    av_packet_free(&context.packet);
    avfilter_graph_free(&context.filterGraph);
    context.sourceFilter = nullptr;
    avcodec_free_context(&context.decoder);
    context.inputFormat = nullptr;
    av_dict_free(&context.inputMetadata);
    context.capture.reset();
    context.recorder.reset();
    for (Encoding &encoding : context.encodings)
        avcodec_free_context(&encoding.encoder);
    context.encodings.clear();
    av_frame_free(&context.decodedFrame);
    av_frame_free(&context.filteredFrame);
}
