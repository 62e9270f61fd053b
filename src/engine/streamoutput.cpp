#include "ffmpegerror.h"
#include "pipelinecontext.h"
#include "player.h"
#include "sourceconnection.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
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

// The stream of the open encoder, and the header that starts it.
int openStream(PipelineContext &context)
{
    Player &player = *context.owner;
    av_dict_copy(&context.outputFormat->metadata, context.inputMetadata, 0);

    AVStream *stream = avformat_new_stream(context.outputFormat, context.encoder->codec);
    if (!stream) {
        player.reportError(QStringLiteral("Could not create new stream"));
        return AVERROR(ENOMEM);
    }
    stream->id = int(context.outputFormat->nb_streams) - 1;
    context.outputStreamIndex = stream->index;
    stream->time_base = context.encoder->time_base;
    int result = avcodec_parameters_from_context(stream->codecpar, context.encoder);
    if (result < 0) {
        player.reportError(QStringLiteral("Could not initialize stream parameters"));
        return result;
    }
    if (context.codec.oggStream)
        setComments(&stream->metadata, player.streamName(), context.title);

    result = avformat_write_header(context.outputFormat, nullptr);
    if (result < 0)
        reportConnectionFailure(context, ConnectionStep::Send, QStringLiteral("Could not write stream header"), result);
    return result;
}

int allocateOutput(PipelineContext &context)
{
    avformat_alloc_output_context2(&context.outputFormat, nullptr, context.codec.streamFormat,
                                   utf8(context.owner->outputUrl()).constData());
    if (context.outputFormat)
        return 0;
    context.owner->reportError(QStringLiteral("Could not allocate output format context"));
    return AVERROR(ENOMEM);
}

// "The Vorbis encoder does not take 16k at 48000 Hz ": what the user chose,
// in the message of an encoder that refuses it.
QString refusedChoice(const Codec &codec, const QString &bitrate, int sampleRate)
{
    const QString rate = QStringLiteral("%1 Hz ").arg(sampleRate);
    return QStringLiteral("The %1 encoder does not take ").arg(codec.shownName)
        + (codec.takesBitrate ? bitrate + QStringLiteral(" at ") : QString()) + rate;
}

} // namespace

void closeConnection(PipelineContext &context)
{
    if (context.outputFormat) {
        avio_closep(&context.outputFormat->pb);
        avformat_free_context(context.outputFormat);
        context.outputFormat = nullptr;
    }
}

bool isRecording(const PipelineContext &context)
{
    return context.recorder && context.recorder->isRecording();
}

int openEncoder(PipelineContext &context)
{
    Player &player = *context.owner;
    const QString codecName = QString::fromLatin1(context.codec.encoderName);
    const AVCodec *codec = avcodec_find_encoder_by_name(context.codec.encoderName);
    if (!codec) {
        player.reportError(QStringLiteral("Could not find the ") + codecName + QStringLiteral(" encoder."));
        return AVERROR_ENCODER_NOT_FOUND;
    }

    context.encoder = avcodec_alloc_context3(codec);
    if (!context.encoder) {
        player.reportError(QStringLiteral("Could not allocate an encoding context"));
        return AVERROR(ENOMEM);
    }
    AVCodecContext *encoder = context.encoder;
    av_channel_layout_from_string(&encoder->ch_layout, utf8(player.channelLayout()).constData());
    encoder->sample_rate = player.sampleRate();
    encoder->sample_fmt = context.codec.sampleFormat ? av_get_sample_fmt(context.codec.sampleFormat)
        : codec->sample_fmts                          ? codec->sample_fmts[0]
                                                      : AV_SAMPLE_FMT_NONE;
    encoder->time_base = AVRational{1, encoder->sample_rate};
    // The muxers of the stream and of the recording both take the codec's
    // set-up (Ogg's headers, ADTS's configuration) from the encoder's extradata.
    const AVOutputFormat *format = av_guess_format(context.codec.streamFormat, nullptr, nullptr);
    if (context.codec.fileFormat || (format && (format->flags & AVFMT_GLOBALHEADER)))
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary *encoderOptions = nullptr;
    const QString bitrate = player.bitrate();
    if (context.codec.takesBitrate)
        av_dict_set(&encoderOptions, "b", utf8(bitrate).constData(), 0);
    const int result = avcodec_open2(encoder, codec, &encoderOptions);
    av_dict_free(&encoderOptions);
    if (result < 0) {
        player.reportError(
            withFFmpegError(refusedChoice(context.codec, bitrate, encoder->sample_rate), result));
        avcodec_free_context(&context.encoder);
        return result;
    }
    return 0;
}

void closeOutput(PipelineContext &context)
{
    avcodec_free_context(&context.encoder);
    closeConnection(context);
}

int openOutput(PipelineContext &context)
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

int startNewChain(PipelineContext &context)
{
    // The encoder goes on: only the muxer starts again, on the same connection.
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

int encodeAndWrite(PipelineContext &context, AVFrame *frame)
{
    Player &player = *context.owner;
    int result = avcodec_send_frame(context.encoder, frame);
    if (result < 0) {
        player.reportError(withFFmpegError(QStringLiteral("Could not send packet for encoding "), result));
        return result;
    }
    AVPacket *packet = context.packet;
    for (;;) {
        result = avcodec_receive_packet(context.encoder, packet);
        if (result == AVERROR(EAGAIN))
            return result;
        if (result == AVERROR_EOF)
            return context.outputFormat ? av_interleaved_write_frame(context.outputFormat, nullptr) : 0;
        if (result < 0) {
            player.reportError(withFFmpegError(QStringLiteral("Could not encode frame "), result));
            return result;
        }
        // Recorded first: the muxer takes the packet's data. Without a
        // connection the packet is only recorded.
        if (isRecording(context))
            context.recorder->write(packet, context.encoder);
        if (!context.outputFormat) {
            av_packet_unref(packet);
            continue;
        }
        const AVRational streamTimeBase = context.outputFormat->streams[0]->time_base;
        const int64_t samples = packet->duration;
        packet->stream_index = context.outputStreamIndex;
        av_packet_rescale_ts(packet, context.encoder->time_base, streamTimeBase);
        result = av_interleaved_write_frame(context.outputFormat, packet);
        if (result < 0) {
            reportConnectionFailure(context, ConnectionStep::Send,
                                    withFFmpegError(QStringLiteral("Could not write frame "), result), result);
            return result;
        }
        // The muxer has sent the headers at the connection; its audio pages
        // follow about once a second.
        const int64_t second = context.encoder->sample_rate;
        if (context.codec.oggStream && context.samplesSent < second && context.samplesSent + samples >= second)
            player.setReadyForTitles();
        context.samplesSent += samples;
    }
}
