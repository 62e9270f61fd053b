#pragma once

#include "capturebackend.h"
#include "codec.h"
#include "playerstatus.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

class QThread;

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
    Codec codec() const;
    QString bitrate() const;
    // The rate the run encodes at: the chosen one, or the codec's own.
    int sampleRate() const;
    QString channelLayout() const;
    QString liveSourceIndex() const;
    QString liveSourceName() const;
    QString user() const;
    QString password() const;
    QString hostname() const;
    int port() const;
    QString protocol() const;
    QString mount() const;
    QString outputUrl() const;
    QString streamName() const;
    QString description() const;
    QString genre() const;
    QString url() const;
    QString certificateFile() const;
    // Whether a run connects again after losing its server connection.
    bool reconnects() const;
    // Seconds of silence on the input after which the run warns; 0: never.
    int silenceSeconds() const;
    // Whether a run records itself to a file, and in which folder.
    bool records() const;
    QString recordFolder() const;
    // Why the latest run's recording stopped early; empty while it goes well.
    QString recordingProblem() const;
    // Whether each new title starts a new chain of the run's Ogg stream.
    bool sendsTitlesInStream() const;
    // Whether the run's server has said it takes no titles for its stream.
    bool refusesTitles() const;
    // Whether the run's connection takes title requests now (see readyForTitles).
    bool takesTitleRequests() const;
    // The title known when the run started, which its first Ogg header carries.
    QString startTitle() const;

    CaptureBackend captureBackend() const;
    void setCaptureBackend(const CaptureBackend &backend);
    // True once the destructor runs; interrupts the run's blocking FFmpeg calls.
    bool isBeingDestroyed() const;

    // The title the server accepted, or the title of a run whose server takes
    // none. It also ends the error of an earlier failed update of a run still
    // on the air: the status is OnAir again.
    void setSong(const QString &value);
    // The server answered that it takes no titles for this stream: logged
    // once, and the run sends it no more.
    void setTitlesRefused();
    void setProgressText(const QString &value);
    // What one capture packet changed: the elapsed time and the meters from
    // RMS levels in dB, each only when given. One notification for all.
    void setProgress(std::optional<double> elapsedSeconds, std::optional<double> leftLevel,
                     std::optional<double> rightLevel);
    void setDeadAirSeconds(int seconds);
    void setOnAir();
    // The connection on the air takes title requests from now on.
    void setReadyForTitles();
    // Off the air until the run has connected again: status Changing with
    // progressText, and still playing, so that a tap stops the run.
    void setReconnecting(const QString &progressText);
    void reportError(const QString &message);
    // The recording ends; the run goes on.
    void reportRecordingStopped(const QString &reason);
    // What the main thread asks of the run, read once per capture packet:
    // whether to stop, and the titles set since the last call.
    struct Requests
    {
        bool stop = false;
        QStringList titles;
    };
    Requests takeRequests();
    // A failed title update: reported like any error, but the run goes on, and
    // stays on the air for the next update if it was on the air.
    void reportMetadataError(const QString &message);
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
    // The run's connection takes title requests: at its start and after each
    // reconnection, once on the air; an Ogg stream once it has carried its
    // headers and a second of audio, as Icecast 2.4 breaks a Vorbis mount
    // whose title comes while it reads the headers.
    void readyForTitles();

private:
    template<typename T>
    T locked(const T &field) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return field;
    }
    void applySettings(const QVariantMap &settings);
    void setOutputUrl(const QString &value);
    void requestStopLocked();
    // Status Error with message as its text, logged; the mutex is held.
    void showErrorLocked(const QString &message);
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
    Codec m_codec;
    QString m_bitrate;
    int m_sampleRate = 0;
    QString m_channelLayout;
    QString m_liveSourceIndex;
    QString m_liveSourceName;
    QString m_user;
    QString m_password;
    QString m_hostname;
    int m_port = 0;
    QString m_protocol;
    QString m_mount;
    QString m_outputUrl;
    QString m_streamName;
    QString m_description;
    QString m_genre;
    QString m_url;
    QString m_certificateFile;
    bool m_reconnects = false;
    int m_silenceSeconds = 0;
    bool m_records = false;
    QString m_recordFolder;
    bool m_inStreamTitles = false;
    bool m_titlesRefused = false;
    bool m_readyForTitles = false;
    QString m_startTitle;
    QStringList m_newTitles;
    QString m_recordingProblem;
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
