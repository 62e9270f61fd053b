#include "listenedaudio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int readBufferSize = 4096;

struct ByteReader
{
    const QByteArray *bytes = nullptr;
    qsizetype position = 0;
};

int readBytes(void *opaque, uint8_t *buffer, int size)
{
    ByteReader &reader = *static_cast<ByteReader *>(opaque);
    const qsizetype left = reader.bytes->size() - reader.position;
    if (left <= 0)
        return AVERROR_EOF;
    const int count = int(std::min<qsizetype>(size, left));
    std::memcpy(buffer, reader.bytes->constData() + reader.position, size_t(count));
    reader.position += count;
    return count;
}

// The sum of the squares of a frame's samples, in any of the formats that
// the decoders give, full scale 1.
double sumOfSquares(const AVFrame *frame)
{
    const auto format = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    const int channels = frame->ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const int perPlane = planar ? frame->nb_samples : frame->nb_samples * channels;
    double sum = 0.0;
    for (int plane = 0; plane < planes; ++plane) {
        const uint8_t *data = frame->extended_data[plane];
        for (int i = 0; i < perPlane; ++i) {
            double value = 0.0;
            switch (packed) {
            case AV_SAMPLE_FMT_S16:
                value = reinterpret_cast<const int16_t *>(data)[i] / 32768.0;
                break;
            case AV_SAMPLE_FMT_S32:
                value = reinterpret_cast<const int32_t *>(data)[i] / 2147483648.0;
                break;
            case AV_SAMPLE_FMT_FLT:
                value = reinterpret_cast<const float *>(data)[i];
                break;
            case AV_SAMPLE_FMT_DBL:
                value = reinterpret_cast<const double *>(data)[i];
                break;
            default:
                break;
            }
            sum += value * value;
        }
    }
    return sum;
}

// Sends one packet (none: the end) and takes every frame it gives. A packet
// that does not decode is skipped, as players skip it: a listener's bytes
// start anywhere.
int decodePacket(AVCodecContext *decoder, const AVPacket *packet, AVFrame *frame, ListenedAudio &heard,
                 double &squares)
{
    int result = avcodec_send_packet(decoder, packet);
    if (result == AVERROR_INVALIDDATA)
        return 0;
    while (result >= 0) {
        result = avcodec_receive_frame(decoder, frame);
        if (result < 0)
            break;
        squares += sumOfSquares(frame);
        heard.samples += frame->nb_samples;
        av_frame_unref(frame);
    }
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? 0 : result;
}

} // namespace

ListenedAudio decodeListened(const QByteArray &bytes)
{
    ListenedAudio heard;
    ByteReader reader{&bytes, 0};
    AVFormatContext *format = avformat_alloc_context();
    auto *buffer = static_cast<unsigned char *>(av_malloc(readBufferSize));
    AVIOContext *input = buffer ? avio_alloc_context(buffer, readBufferSize, 0, &reader, readBytes, nullptr, nullptr)
                                : nullptr;
    if (!input)
        av_free(buffer);
    AVCodecContext *decoder = nullptr;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    double squares = 0.0;
    int result = format && input && packet && frame ? 0 : AVERROR(ENOMEM);
    if (result >= 0) {
        // Ours to free, whatever happens to the format context.
        format->pb = input;
        format->flags |= AVFMT_FLAG_CUSTOM_IO;
        result = avformat_open_input(&format, nullptr, nullptr, nullptr);
    }
    if (result >= 0)
        result = avformat_find_stream_info(format, nullptr);
    const AVCodec *codec = nullptr;
    int stream = -1;
    if (result >= 0)
        result = stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (result >= 0) {
        decoder = avcodec_alloc_context3(codec);
        result = decoder ? avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar) : AVERROR(ENOMEM);
    }
    if (result >= 0)
        result = avcodec_open2(decoder, codec, nullptr);
    while (result >= 0 && (result = av_read_frame(format, packet)) >= 0) {
        if (packet->stream_index == stream)
            result = decodePacket(decoder, packet, frame, heard, squares);
        av_packet_unref(packet);
    }
    // A listener's bytes end anywhere: what decodes until then is what it heard.
    if (result == AVERROR_EOF && decoder)
        decodePacket(decoder, nullptr, frame, heard, squares);
    if (decoder) {
        heard.codecName = QString::fromLatin1(avcodec_get_name(decoder->codec_id));
        heard.sampleRate = decoder->sample_rate;
        const double values = double(heard.samples) * std::max(1, decoder->ch_layout.nb_channels);
        heard.levelDb = values > 0 && squares > 0 ? 10.0 * std::log10(squares / values)
                                                  : -std::numeric_limits<double>::infinity();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    // The buffer may be another than the one given.
    if (input)
        av_freep(&input->buffer);
    avio_context_free(&input);
    return heard;
}
