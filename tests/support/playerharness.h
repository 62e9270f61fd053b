#pragma once

#include "engine/player.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class LogsModel;

// Long enough for a run to come on or go off the air on a busy machine.
constexpr int runTimeoutMs = 20000;

// A tone from FFmpeg's lavfi input, paced to real time: a packet every few
// milliseconds, where the PulseAudio test tone delivers every two seconds.
inline const QString pacedSine = QStringLiteral("sine=frequency=1000:sample_rate=48000,arealtime");
inline const CaptureBackend lavfi{QStringLiteral("lavfi"), QString()};
// A source password with every character that FFmpeg's URL parsing or the
// server's configuration could trip over; no log line may show it.
inline const QString awkwardPassword = QStringLiteral("p@ss/w:rd%41 ?#&<>\"'\\x{}[]=+;,~^`|$!*()");

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
// as it is or percent-encoded.
bool showsThePassword(const LogsModel &log);

// This process's threads and open files: what a run must give back when it ends.
int threadCount();
int openFileCount();
