#pragma once

#include "engine/player.h"
#include "serverprocess.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

class IcecastServer;
class LogsModel;
struct ListenerRecording;

// Long enough for a run to come on or go off the air on a busy machine.
constexpr int runTimeoutMs = 20000;

// A tone from FFmpeg's lavfi input, paced to real time: a packet every few
// milliseconds, where the PulseAudio test tone delivers every two seconds.
inline const QString pacedSine = QStringLiteral("sine=frequency=1000:sample_rate=48000,arealtime");
inline const CaptureBackend lavfi{QStringLiteral("lavfi"), QString()};
// A source password with every character that FFmpeg's URL parsing or the
// server's configuration could trip over; no log line may show it.
inline const QString awkwardPassword = QStringLiteral("p@ss/w:rd%41 ?#&<>\"'\\x{}[]=+;,~^`|$!*()");

// Keeps Qt's debug output (the log model echoes every line it appends there)
// instead of printing it; warnings and worse still reach Qt's own handler.
void captureDebugOutput();
QStringList &capturedDebugOutput();

// The settings map that the window hands to the Player, for a stream to a
// private test server.
QVariantMap streamSettings(const IcecastServer &server, const QString &source, const QString &mount,
                           int sampleRate = 44100, const QString &bitrate = QStringLiteral("128k"),
                           const QString &codec = QStringLiteral("MP3"));
// The settings with some values of the "stream" map changed or added.
QVariantMap withStream(QVariantMap settings, const QVariantMap &changes);

// What a listener of a mount ("/live") learns: the stream's name, description,
// genre, URL and content type as the server lists them (once it lists all of
// them, within 10 s), the codec, sample rate, channels and bit rate that
// ffprobe reads in what the listener receives, and the tone it hears (left).
// Of the tone, "<toneFrequency> Hz at about <levelDb> dB" when nearly all the
// power of a second of its audio lies at that frequency and its RMS level is
// within 1.5 dB of levelDb; else what was heard.
// Without a toneFrequency the tone is not looked at. The listener listens for
// durationMs: Icecast sends a listener who joins an Ogg stream in its first
// seconds little of it at first.
QStringList listenerView(const IcecastServer &server, const QString &mount, int toneFrequency = 0,
                         double levelDb = 0.0, int durationMs = 4000);
// What listenerView gives for a stream of streamSettings() with that tone.
QStringList expectedListenerView(int sampleRate, int bitsPerSecond, int toneFrequency = 0, double levelDb = 0.0,
                                 const QString &codec = QStringLiteral("MP3"));

// Of the tone that the second of samples (at sampleRate) from sample `from`
// carries: "<frequency> Hz at about <levelDb> dB", toneText(), when nearly all
// its power lies at that frequency and its RMS level is within 1.5 dB of
// levelDb; else what is there.
QString heardTone(const QVector<float> &samples, int sampleRate, int from, int frequency, double levelDb);
QString toneText(int frequency, double levelDb);
// The seconds of a recording without that tone, each as "second N: <what is there>".
QStringList toneGaps(const ListenerRecording &recording, int frequency, double levelDb);

// What the window would see of a Player: every distinct status and progress
// text, read after each queued change notification, the notifications, and
// the runs that ended.
class PlayerRecorder : public QObject
{
public:
    explicit PlayerRecorder(const Player &player);

    QList<int> statuses;
    QStringList progressTexts;
    int notifications = 0;
    int runsEnded = 0;

private:
    void record();

    // A Player may go before its recorder, with notifications still queued.
    QPointer<const Player> m_player;
};

// Runs the event loop until the player shows status, at most timeoutMs.
bool waitForStatus(const Player &player, int status, int timeoutMs = runTimeoutMs);

// The lines of the log model's document.
QStringList logLines(const LogsModel &log);
// Whether the log or the captured debug output shows the awkward password,
// as it is or percent-encoded. Every server of a test that looks takes it.
bool showsThePassword(const LogsModel &log);

// This process's threads and open files: what a run must give back when it ends.
int threadCount();
int openFileCount();
// What each of them is.
QStringList openFiles();
