#include "pipelinecontext.h"
#include "player.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace {

// The chunk for an encoder that takes frames of any size (none of the five
// codecs' encoders does: each has a frame size once open).
constexpr int anyFrameSizeChunk = 1024;

QString sampleFormatName(AVSampleFormat format)
{
    const char *name = av_get_sample_fmt_name(format);
    return name ? QString::fromUtf8(name) : QString();
}

// The channel mask of a layout in any order; a layout without one gets the
// default layout of its channel count first (mono 4, stereo 3).
quint64 channelMask(AVChannelLayout &layout)
{
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, layout.nb_channels);
    return av_channel_layout_subset(&layout, ~quint64(0));
}

// Builds and configures the graph; the link descriptors stay the caller's to free.
int buildGraph(PipelineContext &context, AVFilterInOut *&outputs, AVFilterInOut *&inputs)
{
    Player &player = *context.owner;
    const AVFilter *bufferSource = avfilter_get_by_name("abuffer");
    const AVFilter *bufferSink = avfilter_get_by_name("abuffersink");
    const AVRational timeBase = context.inputFormat->streams[context.inputStreamIndex]->time_base;
    const AVCodecContext *encoder = context.encoder;
    AVCodecContext *decoder = context.decoder;
    const bool anyFrameSize = encoder->frame_size <= 0 || (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int frameSize = anyFrameSize ? anyFrameSizeChunk : encoder->frame_size;

    const QString description =
        QStringLiteral("aformat=sample_fmts=%1:channel_layouts=%2,"
                       "astats=metadata=true:reset=10:measure_perchannel=RMS_level:measure_overall=none,"
                       "aresample=%3,asetnsamples=nb_out_samples=%4,asetpts=PTS-STARTPTS")
            .arg(sampleFormatName(encoder->sample_fmt), player.channelLayout(),
                 QString::number(encoder->sample_rate), QString::number(frameSize));

    context.filterGraph = avfilter_graph_alloc();
    if (!outputs || !inputs || !context.filterGraph)
        return AVERROR(ENOMEM);
    // The filters run on the run's thread: astats would hand each frame's
    // channels to a worker thread, whose wake-ups cost more than the work.
    // Set before the first filter, which starts the workers.
    context.filterGraph->nb_threads = 1;

    const QString sourceArguments =
        QStringLiteral("time_base=%1/%2:sample_rate=%3:sample_fmt=%4:channel_layout=%5")
            .arg(QString::number(timeBase.num), QString::number(timeBase.den), QString::number(decoder->sample_rate),
                 sampleFormatName(decoder->sample_fmt), QString::number(channelMask(decoder->ch_layout)));
    int result = avfilter_graph_create_filter(&context.sourceFilter, bufferSource, "in",
                                              sourceArguments.toUtf8().constData(), nullptr, context.filterGraph);
    if (result < 0) {
        player.reportError(QStringLiteral("Cannot create audio buffer source"));
        return result;
    }
    result = avfilter_graph_create_filter(&context.sinkFilter, bufferSink, "out", nullptr, nullptr,
                                          context.filterGraph);
    if (result < 0) {
        player.reportError(QStringLiteral("Cannot create audio buffer sink"));
        return result;
    }

    outputs->name = av_strdup("in");
    outputs->filter_ctx = context.sourceFilter;
    outputs->pad_idx = 0;
    outputs->next = nullptr;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = context.sinkFilter;
    inputs->pad_idx = 0;
    inputs->next = nullptr;
    result = avfilter_graph_parse_ptr(context.filterGraph, description.toUtf8().constData(), &inputs, &outputs,
                                      nullptr);
    if (result < 0)
        return result;
    return avfilter_graph_config(context.filterGraph, nullptr);
}

} // namespace

int initFilters(PipelineContext &context)
{
    AVFilterInOut *outputs = avfilter_inout_alloc();
    AVFilterInOut *inputs = avfilter_inout_alloc();
    const int result = buildGraph(context, outputs, inputs);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    return result;
}
