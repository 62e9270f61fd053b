#pragma once

#include <QString>

extern "C" {
#include <libavutil/rational.h>

struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
}

class QFile;

// A recording in a container (ADTS, Ogg, FLAC): FFmpeg's muxer writes the
// encoder's packets into a file that the recorder has opened. It holds what
// it writes until flush(), so the recorder decides when the disk is written.
// Job thread only.
class RecordingMuxer
{
public:
    RecordingMuxer() = default;
    ~RecordingMuxer();
    RecordingMuxer(const RecordingMuxer &) = delete;
    RecordingMuxer &operator=(const RecordingMuxer &) = delete;

    // Starts the file with the container's header for the encoder's stream.
    // Each of these returns 0 or a negative FFmpeg error code.
    int open(QFile &file, const char *formatName, const AVCodecContext *encoder);
    int write(const AVPacket *packet);
    // Everything the muxer holds goes into the file, an Ogg page still open too.
    int flush();
    // The container's end (FLAC: its header again, with the length and checksum).
    int finish();
    // Why the last call failed: the file's error, or FFmpeg's for code.
    QString errorText(int code) const;

private:
    static int writeToFile(void *muxer, uint8_t *data, int size);
    static int64_t seekInFile(void *muxer, int64_t offset, int whence);
    void release();

    QFile *m_file = nullptr;
    QString m_fileError;
    AVFormatContext *m_format = nullptr;
    AVPacket *m_packet = nullptr;
    AVRational m_encoderTimeBase{0, 1};
};
