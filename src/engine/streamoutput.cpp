#include "ffmpegerror.h"
#include "player.h"
#include "sendqueue.h"
#include "sourceconnection.h"
#include "streamcontext.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <utility>

namespace {

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

// What a listener's player shows of an Ogg stream is its comment header,
// written at each connection and each new chain: ORGANIZATION, the field for
// who makes the audio, names the station, and TITLE, which Icecast shows as
// a Vorbis mount's title, holds the latest title as it was sent.
void setComments(AVDictionary **comments, const QString &streamName, const QString &title)
{
    av_dict_set(comments, "ORGANIZATION", utf8(streamName).constData(), 0);
    if (!title.isEmpty())
        av_dict_set(comments, "TITLE", utf8(title).constData(), 0);
}

// The stream of the encoder, and the header that starts it; its timestamps
// start again from the next packet.
int openStream(StreamContext &context)
{
    Player &player = *context.owner;
    av_dict_copy(&context.outputFormat->metadata, context.inputMetadata, 0);

    AVStream *stream = avformat_new_stream(context.outputFormat, nullptr);
    if (!stream) {
        player.reportStreamError(context.index, QStringLiteral("Could not create new stream"));
        return AVERROR(ENOMEM);
    }
    stream->time_base = context.encoderTimeBase;
    int result = avcodec_parameters_copy(stream->codecpar, context.codecParameters);
    if (result < 0) {
        player.reportStreamError(context.index, QStringLiteral("Could not initialize stream parameters"));
        return result;
    }
    if (context.settings.codec.oggStream)
        setComments(&stream->metadata, context.settings.name, context.title);
    context.started = false;

    result = avformat_write_header(context.outputFormat, nullptr);
    if (result < 0)
        reportConnectionFailure(context, ConnectionStep::Send, QStringLiteral("Could not write stream header"), result);
    return result;
}

int allocateOutput(StreamContext &context)
{
    avformat_alloc_output_context2(&context.outputFormat, nullptr, context.settings.codec.streamFormat,
                                   utf8(context.settings.outputUrl()).constData());
    if (context.outputFormat)
        return 0;
    context.owner->reportStreamError(context.index, QStringLiteral("Could not allocate output format context"));
    return AVERROR(ENOMEM);
}

} // namespace

void closeConnection(StreamContext &context)
{
    if (context.outputFormat) {
        avio_closep(&context.outputFormat->pb);
        avformat_free_context(context.outputFormat);
        context.outputFormat = nullptr;
    }
}

int openOutput(StreamContext &context)
{
    int result = allocateOutput(context);
    if (result < 0)
        return result;
    result = openSourceConnection(context, &context.outputFormat->pb);
    if (result >= 0)
        result = openStream(context);
    context.samplesSent = 0;
    if (result < 0)
        closeConnection(context);
    return result;
}

int startNewChain(StreamContext &context)
{
    // Only the muxer starts again, on the same connection.
    int result = av_write_trailer(context.outputFormat);
    AVIOContext *connection = std::exchange(context.outputFormat->pb, nullptr);
    avformat_free_context(context.outputFormat);
    context.outputFormat = nullptr;
    if (result < 0) {
        avio_closep(&connection);
        reportConnectionFailure(context, ConnectionStep::Send,
                                withFFmpegError(QStringLiteral("Could not write frame "), result), result);
        return result;
    }
    result = allocateOutput(context);
    if (result < 0) {
        avio_closep(&connection);
        return result;
    }
    context.outputFormat->pb = connection;
    result = openStream(context);
    if (result < 0)
        closeConnection(context);
    return result;
}

int writePacket(StreamContext &context, AVPacket *packet)
{
    if (!std::exchange(context.started, true))
        context.firstPts = packet->pts;
    const int64_t samples = packet->duration;
    packet->pts -= context.firstPts;
    packet->dts -= context.firstPts;
    packet->stream_index = 0;
    av_packet_rescale_ts(packet, context.encoderTimeBase, context.outputFormat->streams[0]->time_base);
    int result = av_interleaved_write_frame(context.outputFormat, packet);
    // A server that took nothing for as long as the queue holds: its
    // connection has timed out.
    if (result == AVERROR_EXIT && context.queue->hasOverflowed())
        result = AVERROR(ETIMEDOUT);
    if (result < 0) {
        reportConnectionFailure(context, ConnectionStep::Send,
                                withFFmpegError(QStringLiteral("Could not write frame "), result), result);
        return result;
    }
    // The muxer has sent the headers at the connection; its audio pages
    // follow about once a second.
    const int64_t second = context.settings.sampleRate;
    if (context.settings.codec.oggStream && context.samplesSent < second && context.samplesSent + samples >= second)
        context.owner->setReadyForTitles(context.index);
    context.samplesSent += samples;
    return 0;
}

int finishOutput(StreamContext &context)
{
    const int result = av_write_trailer(context.outputFormat);
    if (result < 0)
        reportConnectionFailure(context, ConnectionStep::Send,
                                withFFmpegError(QStringLiteral("Could not write frame "), result), result);
    closeConnection(context);
    return result;
}
