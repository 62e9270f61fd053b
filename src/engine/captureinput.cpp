#include "pipelinecontext.h"
#include "player.h"

#include "models/logsmodel.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <QElapsedTimer>

#include <cstdint>
#include <memory>
#include <mutex>

namespace {

int channelCount(const QString &layoutName)
{
    AVChannelLayout layout{};
    if (av_channel_layout_from_string(&layout, layoutName.toUtf8().constData()) < 0)
        return 0;
    const int channels = layout.nb_channels;
    av_channel_layout_uninit(&layout);
    return channels;
}

// The pulse input hands over the audio in the fragments it asks the sound
// server for, 50 ms by default, and each one wakes the server's client
// thread, the capture thread, the run and the window. Fragments of 100 ms halve
// that and still keep the audio on air well within 300 ms of the device. The
// input records 16-bit samples at its default 48000 Hz: "samplerate" below is
// not its option.
int64_t pulseFragmentBytes(int channels)
{
    constexpr int64_t fragmentMs = 100;
    constexpr int64_t pulseInputRate = 48000;
    return pulseInputRate * channels * int64_t(sizeof(int16_t)) * fragmentMs / 1000;
}

// The result of a step of opening the device. The device is given the
// silence limit in all; a Player being destroyed does not wait for it, nor
// does a stop: a device that never answers would hold it for that limit.
int waitForStep(PipelineContext &context, CaptureStep step, const QElapsedTimer &opening)
{
    for (;;) {
        const std::optional<int> result = context.capture->waitForStep(step, captureWaitMs);
        if (result)
            return *result;
        if (context.owner->isBeingDestroyed() || context.owner->isStopRequested())
            return AVERROR_EXIT;
        if (opening.hasExpired(captureSilenceLimitMs))
            return captureSilentError;
    }
}

} // namespace

int openInput(PipelineContext &context)
{
    Player &player = *context.owner;
    const CaptureBackend backend = player.captureBackend();
    const QString sourceIndex = player.liveSourceIndex();
    const QString deviceUrl = backend.urlPrefix + sourceIndex;

    static std::once_flag devicesRegistered;
    std::call_once(devicesRegistered, avdevice_register_all);
    const AVInputFormat *format = av_find_input_format(backend.formatName.toUtf8().constData());
    if (!format) {
        player.reportError(QStringLiteral("Cannot find format ") + backend.formatName + QLatin1Char('!'));
        return -1;
    }

    LogsModel::log(QStringLiteral("Opening device ") + player.liveSourceName() + QStringLiteral(" (")
                   + sourceIndex + QLatin1Char(')'));
    AVDictionary *options = nullptr;
    const int channels = channelCount(streamChannelLayout);
    av_dict_set_int(&options, "channels", channels, 0);
    // An input that does not know an option ignores it: the capture input
    // chooses its own rate, and the filter graph resamples.
    av_dict_set_int(&options, "samplerate", player.streams().constFirst().sampleRate, 0);
    av_dict_set_int(&options, "fragment_size", pulseFragmentBytes(channels), 0);
    QElapsedTimer opening;
    opening.start();
    context.capture = std::make_unique<CaptureReader>();
    int result = context.capture->start(format, deviceUrl.toStdString(), options);
    if (result >= 0)
        result = waitForStep(context, CaptureStep::Open, opening);
    if (result < 0) {
        if (result != captureSilentError && result != AVERROR_EXIT)
            player.reportError(QStringLiteral("Cannot open input source"));
        return result;
    }

    result = waitForStep(context, CaptureStep::FindStreamInfo, opening);
    if (result < 0) {
        if (result != captureSilentError && result != AVERROR_EXIT)
            player.reportError(QStringLiteral("Cannot find stream information"));
        return result;
    }
    context.inputFormat = context.capture->input();

    const AVCodec *decoderCodec = nullptr;
    result = av_find_best_stream(context.inputFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &decoderCodec, 0);
    if (result < 0) {
        player.reportError(QStringLiteral("Cannot find an audio stream in the input file"));
        return result;
    }
    context.inputStreamIndex = result;

    context.decoder = avcodec_alloc_context3(decoderCodec);
    if (!context.decoder)
        return AVERROR(ENOMEM);
    avcodec_parameters_to_context(context.decoder, context.inputFormat->streams[result]->codecpar);

    result = avcodec_open2(context.decoder, decoderCodec, nullptr);
    if (result < 0) {
        player.reportError(QStringLiteral("Cannot open audio decoder"));
        return result;
    }
    return 0;
}
