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

#include <algorithm>

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

// The frames an encoder takes: its frame size, or chunks of any size.
int frameSizeOf(const AVCodecContext *encoder)
{
    const bool anyFrameSize =
        encoder->frame_size <= 0 || (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    return anyFrameSize ? anyFrameSizeChunk : encoder->frame_size;
}

// The graph from the capture's "in" to one "out<N>" per encoding: the first
// encoding's sample format in stereo, measured once, then one resampler per
// rate, split per encoding of that rate into its sample format and frames.
// With one encoding: aformat, astats, aresample, asetnsamples, asetpts.
QString graphDescription(const std::vector<Encoding> &encodings)
{
    const AVSampleFormat measured = encodings.front().encoder->sample_fmt;
    QString description = QStringLiteral("[in]aformat=sample_fmts=%1:channel_layouts=%2,"
                                         "astats=metadata=true:reset=10:measure_perchannel=RMS_level:"
                                         "measure_overall=none")
                              .arg(sampleFormatName(measured), streamChannelLayout);
    std::vector<int> rates;
    for (const Encoding &encoding : encodings) {
        if (std::find(rates.cbegin(), rates.cend(), encoding.encoder->sample_rate) == rates.cend())
            rates.push_back(encoding.encoder->sample_rate);
    }
    const auto labels = [](const QString &stem, size_t count) {
        QString text;
        for (size_t i = 0; i < count; ++i)
            text += QStringLiteral("[%1%2]").arg(stem).arg(i);
        return text;
    };
    if (rates.size() > 1)
        description += QStringLiteral(",asplit=%1%2").arg(rates.size()).arg(labels(QStringLiteral("rate"), rates.size()));
    for (size_t rate = 0; rate < rates.size(); ++rate) {
        std::vector<size_t> atRate;
        for (size_t i = 0; i < encodings.size(); ++i) {
            if (encodings.at(i).encoder->sample_rate == rates.at(rate))
                atRate.push_back(i);
        }
        description += rates.size() > 1 ? QStringLiteral(";[rate%1]").arg(rate) : QStringLiteral(",");
        description += QStringLiteral("aresample=%1").arg(rates.at(rate));
        const QString branch = QStringLiteral("rate%1encoding").arg(rate);
        if (atRate.size() > 1)
            description += QStringLiteral(",asplit=%1%2").arg(atRate.size()).arg(labels(branch, atRate.size()));
        for (size_t i = 0; i < atRate.size(); ++i) {
            const AVCodecContext *encoder = encodings.at(atRate.at(i)).encoder;
            description += atRate.size() > 1 ? QStringLiteral(";[%1%2]").arg(branch).arg(i) : QStringLiteral(",");
            if (encodings.size() > 1)
                description += QStringLiteral("aformat=sample_fmts=%1,").arg(sampleFormatName(encoder->sample_fmt));
            description += QStringLiteral("asetnsamples=nb_out_samples=%1,asetpts=PTS-STARTPTS[out%2]")
                               .arg(frameSizeOf(encoder))
                               .arg(atRate.at(i));
        }
    }
    return description;
}

// Builds and configures the graph; the link descriptors stay the caller's to free.
int buildGraph(PipelineContext &context, AVFilterInOut *&outputs, AVFilterInOut *&inputs)
{
    Player &player = *context.owner;
    const AVFilter *bufferSource = avfilter_get_by_name("abuffer");
    const AVFilter *bufferSink = avfilter_get_by_name("abuffersink");
    const AVRational timeBase = context.inputFormat->streams[context.inputStreamIndex]->time_base;
    AVCodecContext *decoder = context.decoder;

    context.filterGraph = avfilter_graph_alloc();
    if (!outputs || !context.filterGraph)
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
    outputs->name = av_strdup("in");
    outputs->filter_ctx = context.sourceFilter;
    outputs->pad_idx = 0;
    outputs->next = nullptr;

    // The sinks, linked in reverse so that the list is in the encodings' order.
    for (size_t i = context.encodings.size(); i-- > 0;) {
        Encoding &encoding = context.encodings.at(i);
        const QByteArray name = QStringLiteral("out%1").arg(i).toUtf8();
        result = avfilter_graph_create_filter(&encoding.sinkFilter, bufferSink, name.constData(), nullptr, nullptr,
                                              context.filterGraph);
        AVFilterInOut *sink = result < 0 ? nullptr : avfilter_inout_alloc();
        if (!sink) {
            player.reportError(QStringLiteral("Cannot create audio buffer sink"));
            return result < 0 ? result : AVERROR(ENOMEM);
        }
        sink->name = av_strdup(name.constData());
        sink->filter_ctx = encoding.sinkFilter;
        sink->pad_idx = 0;
        sink->next = inputs;
        inputs = sink;
    }
    result = avfilter_graph_parse_ptr(context.filterGraph, graphDescription(context.encodings).toUtf8().constData(),
                                      &inputs, &outputs, nullptr);
    if (result < 0)
        return result;
    return avfilter_graph_config(context.filterGraph, nullptr);
}

} // namespace

int initFilters(PipelineContext &context)
{
    AVFilterInOut *outputs = avfilter_inout_alloc();
    AVFilterInOut *inputs = nullptr;
    const int result = buildGraph(context, outputs, inputs);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    return result;
}
