#include "ffmpegerror.h"
#include "pipelinecontext.h"
#include "player.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <QElapsedTimer>

#include <algorithm>

namespace {

// How long a stream may take at the end of a run to send what it has and
// end its stream, before it is abandoned.
constexpr int finishWaitMs = 1000;

// "The Vorbis encoder does not take 16k at 48000 Hz ": what the user chose,
// in the message of an encoder that refuses it.
QString refusedChoice(const StreamSettings &format, int sampleRate)
{
    const QString rate = QStringLiteral("%1 Hz ").arg(sampleRate);
    return QStringLiteral("The %1 encoder does not take ").arg(format.codec.shownName)
        + (format.codec.takesBitrate ? format.bitrate + QStringLiteral(" at ") : QString()) + rate;
}

int openEncoder(Player &player, Encoding &encoding, const QString &messagePrefix)
{
    const Codec &codecChoice = encoding.format.codec;
    const AVCodec *codec = avcodec_find_encoder_by_name(codecChoice.encoderName);
    if (!codec) {
        player.reportError(messagePrefix + QStringLiteral("Could not find the %1 encoder.")
                                               .arg(QString::fromLatin1(codecChoice.encoderName)));
        return AVERROR_ENCODER_NOT_FOUND;
    }
    encoding.encoder = avcodec_alloc_context3(codec);
    if (!encoding.encoder) {
        player.reportError(QStringLiteral("Could not allocate an encoding context"));
        return AVERROR(ENOMEM);
    }
    AVCodecContext *encoder = encoding.encoder;
    av_channel_layout_from_string(&encoder->ch_layout, streamChannelLayout.toUtf8().constData());
    encoder->sample_rate = encoding.format.sampleRate;
    encoder->sample_fmt = codecChoice.sampleFormat ? av_get_sample_fmt(codecChoice.sampleFormat)
        : codec->sample_fmts                        ? codec->sample_fmts[0]
                                                    : AV_SAMPLE_FMT_NONE;
    encoder->time_base = AVRational{1, encoder->sample_rate};
    // The muxers of the streams and of the recording all take the codec's
    // set-up (Ogg's headers, ADTS's configuration) from the encoder's extradata.
    const AVOutputFormat *format = av_guess_format(codecChoice.streamFormat, nullptr, nullptr);
    if (codecChoice.fileFormat || (format && (format->flags & AVFMT_GLOBALHEADER)))
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary *encoderOptions = nullptr;
    if (codecChoice.takesBitrate)
        av_dict_set(&encoderOptions, "b", encoding.format.bitrate.toUtf8().constData(), 0);
    const int result = avcodec_open2(encoder, codec, &encoderOptions);
    av_dict_free(&encoderOptions);
    if (result < 0) {
        player.reportError(messagePrefix + withFFmpegError(refusedChoice(encoding.format, encoder->sample_rate), result));
        avcodec_free_context(&encoding.encoder);
    }
    return result;
}

} // namespace

bool isRecording(const PipelineContext &context)
{
    return context.recorder && context.recorder->isRecording();
}

int openEncoders(PipelineContext &context)
{
    Player &player = *context.owner;
    const QVector<StreamSettings> streams = player.streams();
    for (int index = 0; index < streams.size(); ++index) {
        const StreamSettings &stream = streams.at(index);
        const auto same = [&stream](const Encoding &encoding) { return encoding.format.hasFormatOf(stream); };
        if (std::any_of(context.encodings.cbegin(), context.encodings.cend(), same))
            continue;
        Encoding encoding;
        encoding.format = stream;
        context.encodings.push_back(encoding);
        const int result = openEncoder(player, context.encodings.back(), player.streamPrefix(index));
        if (result < 0)
            return result;
    }
    return 0;
}

int startSenders(PipelineContext &context)
{
    Player &player = *context.owner;
    const QVector<StreamSettings> streams = player.streams();
    const bool reconnects = player.reconnects();
    const QString title = player.startTitle();
    for (int index = 0; index < streams.size(); ++index) {
        const StreamSettings &stream = streams.at(index);
        Encoding &encoding = *std::find_if(context.encodings.begin(), context.encodings.end(),
                                           [&stream](const Encoding &e) { return e.format.hasFormatOf(stream); });
        context.senders.push_back(std::make_unique<StreamSender>(player, index, stream, reconnects, title));
        StreamSender &sender = *context.senders.back();
        const int result = sender.start(encoding.encoder, context.inputMetadata);
        if (result < 0)
            return result;
        encoding.senders.push_back(&sender);
    }
    return 0;
}

int encodeAndSend(PipelineContext &context, Encoding &encoding, AVFrame *frame)
{
    Player &player = *context.owner;
    int result = avcodec_send_frame(encoding.encoder, frame);
    if (result < 0) {
        player.reportError(withFFmpegError(QStringLiteral("Could not send packet for encoding "), result));
        return result;
    }
    AVPacket *packet = context.packet;
    const bool recorded = &encoding == &context.encodings.front();
    for (;;) {
        result = avcodec_receive_packet(encoding.encoder, packet);
        if (result == AVERROR(EAGAIN))
            return result;
        if (result == AVERROR_EOF)
            return 0;
        if (result < 0) {
            player.reportError(withFFmpegError(QStringLiteral("Could not encode frame "), result));
            return result;
        }
        if (recorded && isRecording(context))
            context.recorder->write(packet, encoding.encoder);
        for (StreamSender *sender : encoding.senders)
            sender->queue().push(packet);
        av_packet_unref(packet);
    }
}

void finishSenders(PipelineContext &context)
{
    for (const auto &sender : context.senders)
        sender->queue().close();
    QElapsedTimer clock;
    clock.start();
    for (const auto &sender : context.senders)
        sender->join(int(std::max<qint64>(0, finishWaitMs - clock.elapsed())));
}
