#include "recordingmuxer.h"

#include "ffmpegerror.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

constexpr int bufferSize = 64 * 1024;

} // namespace

RecordingMuxer::~RecordingMuxer()
{
    release();
}

void RecordingMuxer::release()
{
    if (m_format) {
        if (m_format->pb)
            av_freep(&m_format->pb->buffer);
        avio_context_free(&m_format->pb);
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    av_packet_free(&m_packet);
}

int RecordingMuxer::writeToFile(void *muxer, uint8_t *data, int size)
{
    auto &self = *static_cast<RecordingMuxer *>(muxer);
    if (self.m_file->write(reinterpret_cast<const char *>(data), size) == size)
        return size;
    self.m_fileError = self.m_file->errorString();
    return AVERROR(EIO);
}

int64_t RecordingMuxer::seekInFile(void *muxer, int64_t offset, int whence)
{
    QFile &file = *static_cast<RecordingMuxer *>(muxer)->m_file;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return file.size();
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += file.pos();
        break;
    case SEEK_END:
        offset += file.size();
        break;
    default:
        return AVERROR(EINVAL);
    }
    return file.seek(offset) ? offset : AVERROR(EIO);
}

int RecordingMuxer::open(QFile &file, const char *formatName, const AVCodecContext *encoder)
{
    m_file = &file;
    m_encoderTimeBase = encoder->time_base;
    m_packet = av_packet_alloc();
    int result = avformat_alloc_output_context2(&m_format, nullptr, formatName, nullptr);
    if (result < 0 || !m_packet)
        return result < 0 ? result : AVERROR(ENOMEM);
    auto *buffer = static_cast<unsigned char *>(av_malloc(bufferSize));
    m_format->pb = buffer ? avio_alloc_context(buffer, bufferSize, 1, this, nullptr, writeToFile, seekInFile) : nullptr;
    if (!m_format->pb) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    // Written when the recorder flushes, about once a second, not per packet.
    m_format->flush_packets = 0;
    AVStream *stream = avformat_new_stream(m_format, nullptr);
    if (!stream)
        return AVERROR(ENOMEM);
    stream->time_base = encoder->time_base;
    result = avcodec_parameters_from_context(stream->codecpar, encoder);
    if (result >= 0)
        result = avformat_write_header(m_format, nullptr);
    return result;
}

int RecordingMuxer::write(const AVPacket *packet)
{
    // The caller's packet goes on to the server: the muxer gets a reference.
    int result = av_packet_ref(m_packet, packet);
    if (result < 0)
        return result;
    m_packet->stream_index = 0;
    av_packet_rescale_ts(m_packet, m_encoderTimeBase, m_format->streams[0]->time_base);
    result = av_write_frame(m_format, m_packet);
    av_packet_unref(m_packet);
    return result;
}

int RecordingMuxer::flush()
{
    // A muxer that holds nothing back answers 1.
    const int result = av_write_frame(m_format, nullptr);
    if (result < 0)
        return result;
    avio_flush(m_format->pb);
    return m_format->pb->error;
}

int RecordingMuxer::finish()
{
    const int result = av_write_trailer(m_format);
    release();
    return result;
}

QString RecordingMuxer::errorText(int code) const
{
    return m_fileError.isEmpty() ? ffmpegErrorText(code) : m_fileError;
}
