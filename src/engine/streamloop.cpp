#include "ffmpegerror.h"
#include "icecasturl.h"
#include "pipelinecontext.h"
#include "player.h"

#include "models/logsmodel.h"

#include <QElapsedTimer>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <cstdlib>

namespace {

// Connects, opens the device, encoder and graph, and writes the stream
// descriptions to the log; the password is not shown there.
int setUpPipeline(PipelineContext &context)
{
    Player &player = *context.owner;
    player.setProgressText(QStringLiteral("Opening input ") + player.liveSourceName());
    int result = openInput(context);
    if (result < 0)
        return result;
    player.setProgressText(QStringLiteral("Connecting to remote server"));
    result = openOutput(context);
    if (result < 0)
        return result;
    result = initFilters(context);
    if (result < 0)
        return result;
    av_dump_format(context.inputFormat, 0, player.liveSourceIndex().toUtf8().constData(), 0);
    av_dump_format(context.outputFormat, 0, withHiddenPassword(player.outputUrl()).toUtf8().constData(), 1);
    return 0;
}

// A one-channel source drives both meters alike.
void updateMeters(Player &player, const AVFrame *frame)
{
    const AVDictionaryEntry *left = av_dict_get(frame->metadata, "lavfi.astats.1.RMS_level", nullptr,
                                                AV_DICT_IGNORE_SUFFIX);
    const AVDictionaryEntry *right = av_dict_get(frame->metadata, "lavfi.astats.2.RMS_level", nullptr,
                                                 AV_DICT_IGNORE_SUFFIX);
    if (left) {
        const double leftLevel = std::strtod(left->value, nullptr);
        player.setLeftVolume(leftLevel);
        player.setRightVolume(right ? std::strtod(right->value, nullptr) : leftLevel);
    } else if (right) {
        player.setRightVolume(std::strtod(right->value, nullptr));
    }
}

// Reads, decodes, filters, measures, encodes and sends until a stop has been
// flushed (0) or something ends the stream (a negative code).
int pumpAudio(PipelineContext &context)
{
    Player &player = *context.owner;
    const AVRational timeBase = context.inputFormat->streams[context.inputStreamIndex]->time_base;
    bool flushing = false;
    bool firstPacket = true;
    bool decoderDrained = false;
    int64_t startPts = 0;
    // The encoder's timestamps are counted in samples: a capture clock that
    // jitters or drifts against the system clock must not make them go back,
    // which the muxer would report for every packet.
    int64_t encoderPts = 0;

    // Only the capture reader touches the input from here on.
    context.capture->startReading();
    QElapsedTimer sinceAudio;
    sinceAudio.start();

    for (;;) {
        if (!flushing) {
            int result = context.capture->nextPacket(context.packet, captureWaitMs);
            if (result == AVERROR(EAGAIN)) {
                if (sinceAudio.hasExpired(captureSilenceLimitMs))
                    return captureSilentError;
            } else if (result < 0) {
                return result;
            } else if (context.packet->stream_index == context.inputStreamIndex) {
                sinceAudio.restart();
                if (firstPacket)
                    startPts = context.packet->pts;
                else
                    player.setElapsed(double(timeBase.num) / double(timeBase.den)
                                      * double(context.packet->pts - startPts));
                result = avcodec_send_packet(context.decoder, context.packet);
                av_packet_unref(context.packet);
                if (result < 0)
                    return result;
                firstPacket = false;
            } else {
                av_packet_unref(context.packet);
            }
            if (player.isStopRequested()) {
                result = avcodec_send_packet(context.decoder, nullptr);
                if (result < 0)
                    return result;
                flushing = true;
            }
        }

        if (!decoderDrained) {
            const int result = avcodec_receive_frame(context.decoder, context.decodedFrame);
            if (result == AVERROR(EAGAIN))
                continue;
            if (result == AVERROR_EOF) {
                decoderDrained = true;
                // Its result is not needed: the sink reports the end of the graph.
                [[maybe_unused]] const int closed = av_buffersrc_add_frame(context.sourceFilter, nullptr);
            } else if (result < 0) {
                return result;
            } else {
                const int added = av_buffersrc_add_frame_flags(context.sourceFilter, context.decodedFrame,
                                                               AV_BUFFERSRC_FLAG_KEEP_REF);
                av_frame_unref(context.decodedFrame);
                if (added < 0)
                    return added;
            }
        }

        for (;;) {
            int result = av_buffersink_get_frame(context.sinkFilter, context.filteredFrame);
            if (result == AVERROR(EAGAIN))
                break;
            if (result == AVERROR_EOF) {
                result = encodeAndWrite(context, nullptr);
                return result < 0 ? result : 0;
            }
            if (result < 0)
                return result;
            updateMeters(player, context.filteredFrame);
            context.filteredFrame->pts = encoderPts;
            encoderPts += context.filteredFrame->nb_samples;
            result = encodeAndWrite(context, context.filteredFrame);
            if (result < 0 && result != AVERROR(EAGAIN))
                return result;
            av_frame_unref(context.filteredFrame);
        }
    }
}

} // namespace

int Player::runStream()
{
    PipelineContext context;
    context.owner = this;
    setOutputUrl(icecastUrl(user(), password(), hostname(), port(), mount()));

    int result = 0;
    bool onAir = false;
    context.packet = av_packet_alloc();
    context.decodedFrame = av_frame_alloc();
    context.filteredFrame = av_frame_alloc();
    if (!context.packet || !context.decodedFrame || !context.filteredFrame)
        result = AVERROR(ENOMEM);
    if (result >= 0)
        result = setUpPipeline(context);
    if (result >= 0) {
        setProgressText(QString());
        setOnAir();
        onAir = true;
        result = pumpAudio(context);
    }

    // The end of the device's stream is a normal end. A set-up stage that failed
    // without a message of its own is still reported, so that a failed start
    // never shows "Off".
    const bool endOfStream = onAir && result == AVERROR_EOF;
    if (result == captureSilentError) {
        reportError(QStringLiteral("No audio from the capture device for 10 s"));
        // From here on it counts as the device's input failing.
        result = AVERROR(EIO);
    } else if (result < 0 && !endOfStream && (onAir || status() != Error)) {
        reportError(QStringLiteral("Error occurred: ") + ffmpegErrorText(result));
    }
    if (result < 0)
        LogsModel::log(QStringLiteral("Streaming stopped: ") + ffmpegErrorText(result));
    releasePipeline(context);
    endRun();
    return endOfStream ? 0 : result;
}
