#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <cstdint>

extern "C" {
struct AVPacket;
}

class Player;

// The local recording of one run: the encoder's MP3 packets appended to a
// file as they come, and the titles that reached the server in a CUE sheet
// beside it. Raw MP3 frames need no header that is written at the end, so
// the file plays however far it got. A failure ends the recording, never the
// run. Job thread only.
class Recorder
{
public:
    // Takes the folder, the stream name and the sample rate from the Player;
    // the file is named after now, made at the first packet.
    explicit Recorder(Player &player);
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // False once the recording has stopped on a failure.
    bool isRecording() const { return !m_stopped; }
    // Appends one encoded packet, then the titles the server has taken since,
    // at this point of the recording.
    void write(const AVPacket *packet);
    // Closes the files and logs where the recording is, if there is one.
    void finish();

private:
    bool open();
    bool writePending();
    void addTitle(const QString &title);
    void stop(const QString &reason);

    Player &m_player;
    QString m_folder;
    QString m_streamName;
    QDateTime m_start;
    int m_sampleRate = 0;
    QFile m_file;
    // Packets not written yet: at most about a second.
    QByteArray m_pending;
    QFile m_cue;
    bool m_stopped = false;
    int m_tracks = 0;
    // The recording's length so far, counted in the packets' samples.
    int64_t m_samples = 0;
    int64_t m_syncedSamples = 0;
};

// Where recordings go unless the user chose a folder: the music folder's
// "Tavolin Encoder".
QString defaultRecordingFolder();

// "<stream name> YYYY-MM-DD HH-MM-SS.mp3" in folder: the name with the
// characters that common file systems refuse as "_", "Tavolin Encoder" when
// it is empty, and " (2)", " (3)", ... before the extension while a recording
// or its CUE sheet of that name exists.
QString recordingPath(const QString &folder, const QString &streamName, const QDateTime &start);
