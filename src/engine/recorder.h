#pragma once

#include "codec.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

extern "C" {
struct AVCodecContext;
struct AVPacket;
}

class Player;
class RecordingMuxer;

// The local recording of one run: the encoder's packets in a file as they
// come, and the titles of the run in a CUE sheet beside it. MP3 is written as
// raw frames, the other codecs through their container's muxer; either way
// the file is written and synced about once a second and plays however far
// it got. A failure ends the recording, never the run. Job thread only.
class Recorder
{
public:
    // Records the Player's first stream: its codec, name and sample rate, in
    // the Player's folder; the file is named after now, made at the first packet.
    explicit Recorder(Player &player);
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // False once the recording has stopped on a failure.
    bool isRecording() const { return !m_stopped; }
    // Appends one packet of the encoder, then the titles added since, at this
    // point of the recording: each a track, but for the title of the track
    // before (sent again after a reconnection, or written again into a
    // now-playing file), which is still the same track.
    void write(const AVPacket *packet, const AVCodecContext *encoder);
    void addTitles(const QStringList &titles) { m_newTitles += titles; }
    // Closes the files and logs where the recording is, if there is one.
    void finish();

private:
    bool open(const AVCodecContext *encoder);
    bool writePending();
    void addTitle(const QString &title);
    void failedToWrite(const QString &error);
    void stop(const QString &reason);

    Player &m_player;
    Codec m_codec;
    QString m_folder;
    QString m_streamName;
    QDateTime m_start;
    int m_sampleRate = 0;
    QFile m_file;
    // MP3 packets not written yet: at most about a second.
    QByteArray m_pending;
    // The other codecs' container; it holds what is not written yet.
    std::unique_ptr<RecordingMuxer> m_muxer;
    QStringList m_newTitles;
    QFile m_cue;
    bool m_stopped = false;
    int m_tracks = 0;
    QString m_lastTitle;
    // The recording's length so far, counted in the packets' samples.
    int64_t m_samples = 0;
    int64_t m_syncedSamples = 0;
};

// Where recordings go unless the user chose a folder: the music folder's
// "Tavolin Encoder".
QString defaultRecordingFolder();

// "<stream name> YYYY-MM-DD HH-MM-SS<extension>" in folder: the name with the
// characters that common file systems refuse as "_", "Tavolin Encoder" when
// it is empty, and " (2)", " (3)", ... before the extension while a recording
// of that extension or its CUE sheet of that name exists.
QString recordingPath(const QString &folder, const QString &streamName, const QDateTime &start,
                      const QString &extension);
