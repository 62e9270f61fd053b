#pragma once

#include "capturebackend.h"
#include "playerstatus.h"
#include "streamsettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QThread;

// What one stream of a run shows.
struct StreamState
{
    // Changing (connecting, or waiting to connect again), OnAir, Error (it
    // has ended with an error), Off (the run has ended).
    int status = Changing;
    // "Connecting", "On Air", "Reconnecting in N s", or what went wrong.
    QString text;
    // With one stream, the run's progress text while it changes.
    QString runText;
    bool readyForTitles = false;
    bool titlesRefused = false;
};

// The streaming engine: the settings of the current (or last) run, the state
// that the window shows, and the job thread of the active run, all behind one
// non-recursive mutex. Signals are emitted while that mutex is held, so
// receivers on other threads must be connected queued.
class Player : public QObject
{
    Q_OBJECT

public:
    Player();
    ~Player() override;

    // Meter value of an RMS level in dB: 0 at -40 dB and below, 100 at 0 dB.
    static int meterValue(double level);

    QString song() const;
    QString errorText() const;
    QString progressText() const;
    double elapsed() const;
    int status() const;
    int leftVolume() const;
    int rightVolume() const;
    // Whole seconds of the silence on the input while the run warns of it; 0
    // while it does not.
    int deadAirSeconds() const;
    bool isPlaying() const;
    bool isStopRequested() const;
    // Connected and sending: status OnAir, or Error from a failed title update
    // while the run went on. A run that starts, stops or waits to reconnect is not.
    bool isOnAir() const;
    // The streams of the current (or last) run: the first stream, then each
    // further one that is on, in the window's order. Each is known by its
    // index in this list.
    QVector<StreamSettings> streams() const;
    // What each stream of the run shows: its state while the run goes, and a
    // stream's error until the next start. Copies, made under the mutex.
    std::vector<StreamState> streamStates() const;
    // One stream's; a default one for an index beyond the run's streams.
    StreamState streamState(int stream) const;
    bool isStreamOnAir(int stream) const { return streamState(stream).status == OnAir; }
    QString liveSourceIndex() const;
    QString liveSourceName() const;
    // Whether a run connects again after losing its server connection.
    bool reconnects() const;
    // Seconds of silence on the input after which the run warns; 0: never.
    int silenceSeconds() const;
    // Whether a run records itself to a file, and in which folder.
    bool records() const;
    QString recordFolder() const;
    // Why the latest run's recording stopped early; empty while it goes well.
    QString recordingProblem() const;
    // The file the latest run records to; empty while it records nothing.
    QString recordingFile() const;
    // Whether the stream's server has said it takes no titles for it.
    bool refusesTitles(int stream) const;
    // Whether the stream's connection takes title requests now (see readyForTitles).
    bool takesTitleRequests(int stream) const;
    // The title known when the run started, which its first Ogg header carries.
    QString startTitle() const;
    // Milliseconds since the input last had sound on either channel (the
    // meters' measurement); -1 while it has had none in this run.
    qint64 msSinceSound() const;

    CaptureBackend captureBackend() const;
    void setCaptureBackend(const CaptureBackend &backend);
    // True once the destructor runs; interrupts the run's blocking FFmpeg calls.
    bool isBeingDestroyed() const;

    // The title a stream's server accepted, or the title of a stream whose
    // server takes none. It also ends the error of an earlier failed update
    // of that stream while it is on the air.
    void setSong(const QString &value, int stream);
    // The stream's server answered that it takes no titles for it: logged
    // once, and the run sends it no more.
    void setTitlesRefused(int stream);
    void setProgressText(const QString &value);
    // What one capture packet changed: the elapsed time and the meters from
    // RMS levels in dB, each only when given. One notification for all.
    void setProgress(std::optional<double> elapsedSeconds, std::optional<double> leftLevel,
                     std::optional<double> rightLevel);
    void setDeadAirSeconds(int seconds);
    // The stream's connection on the air takes title requests from now on.
    void setReadyForTitles(int stream);
    // Off the air until the run has connected again: status Changing with
    // progressText, and still playing, so that a tap stops the run.
    void setReconnecting(const QString &progressText);
    void reportError(const QString &message);

    // What a stream's sender tells of it. With one stream the run shows the
    // stream's own texts, as runText gives them; with several the run is On
    // Air while one of them is, and in Error once none is left.

    // Connecting: at the start (runText empty) or in a try to connect again.
    void setStreamConnecting(int stream, const QString &runText);
    // Waiting to connect again, the try secondsLeft away.
    void setStreamWaiting(int stream, const QString &runText, int secondsLeft);
    void setStreamOnAir(int stream);
    // The stream has ended with this error: logged, shown in its row.
    void reportStreamError(int stream, const QString &message);
    // A log line of the stream, which names it when the run has several.
    void logStream(int stream, const QString &line);
    // "[label] " before a stream's lines when the run has several.
    QString streamPrefix(int stream) const;
    // The recording ends; the run goes on.
    void reportRecordingStopped(const QString &reason);
    void setRecordingFile(const QString &path);
    // What the main thread asks of the run, read once per capture packet:
    // whether to stop, and the titles set since the last call; and whether
    // the run is on the air, under the same lock.
    struct Requests
    {
        bool stop = false;
        QStringList titles;
        bool onAir = false;
    };
    Requests takeRequests();
    // A failed title update of a stream: reported like any error, but the
    // run goes on, and stays on the air for the next update if it was on the
    // air. With several streams it shows in the stream's row alone.
    void reportMetadataError(int stream, const QString &message);
    void requestStop();
    void endRun();

    void togglePlayPause(const QVariantMap &settings);
    void shutdown();
    int runStream();
    // The capture devices: a list of maps with "index" (what the engine opens)
    // and "deviceName" (what the user sees); empty when there are none.
    QVariant liveSources();

signals:
    void hasShutdown();
    // After every change of the published state; a setter that leaves the
    // value as it was does not notify.
    void dataChanged();
    // Emitted with the mutex held, like dataChanged.
    void recordingProblemChanged();
    // A stream's connection takes title requests: at its start and after
    // each reconnection, once on the air; an Ogg stream once it has carried
    // its headers and a second of audio, as Icecast 2.4 breaks a Vorbis mount
    // whose title comes while it reads the headers.
    void readyForTitles(int stream);
    // A stream is on the air: at the start and after each reconnection.
    void streamOnAir(int stream);

private:
    template<typename T>
    T locked(const T &field) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return field;
    }
    void applySettings(const QVariantMap &settings);
    void requestStopLocked();
    bool isOnAirLocked() const;
    // Status Error with message as its text, logged; the mutex is held.
    void showErrorLocked(const QString &message);
    // The run's status and texts from its streams', when it has several.
    void showStreamsLocked();
    QString streamPrefixLocked(int stream) const;
    void releaseFinishedJobThread();

    QString m_song = QStringLiteral("--");
    QString m_errorText;
    QString m_progressText;
    double m_elapsed = 0.0;
    int m_status = Off;
    int m_leftVolume = 0;
    int m_rightVolume = 0;
    int m_deadAirSeconds = 0;
    bool m_playing = false;
    bool m_stopRequested = false;
    // With status Error: the error is a failed title update of a run on the air.
    bool m_metadataErrorOnAir = false;
    QVector<StreamSettings> m_streams;
    // A std::vector, whose copies are deep: each thread reads its own.
    std::vector<StreamState> m_streamStates;
    // The last error of a stream, which the run shows once none is left.
    QString m_lastStreamError;
    // Whether one of the run's streams has been on the air.
    bool m_beenOnAir = false;
    QString m_liveSourceIndex;
    QString m_liveSourceName;
    bool m_reconnects = false;
    int m_silenceSeconds = 0;
    bool m_records = false;
    QString m_recordFolder;
    QString m_startTitle;
    QElapsedTimer m_sinceSound;
    QStringList m_newTitles;
    QString m_recordingProblem;
    QString m_recordingFile;
    QThread *m_jobThread = nullptr;
    CaptureBackend m_captureBackend = CaptureBackend::platformDefault();
    bool m_beingDestroyed = false;
    // Whether the current run has reported an error of its own, told apart
    // from the main thread's reports (a refused title) by the reporting thread.
    bool m_runReported = false;
    // std::mutex rather than QMutex: ThreadSanitizer sees its hand-overs, which
    // it cannot in Qt 5's contended QMutex.
    mutable std::mutex m_mutex;

    // Main thread only: the thread of the latest run, which the Player owns.
    std::unique_ptr<QThread> m_lastJobThread;
};
