#include "playerharness.h"

#include "models/logsmodel.h"

#include "debugcapture.h"
#include "waituntil.h"

#include <QDir>

PlayerRecorder::PlayerRecorder(const Player &player)
    : m_player(&player)
{
    connect(
        &player, &Player::dataChanged, this,
        [this] {
            ++notifications;
            record();
        },
        Qt::QueuedConnection);
    connect(&player, &Player::hasShutdown, this, [this] { ++runsEnded; }, Qt::QueuedConnection);
    record();
}

void PlayerRecorder::record()
{
    if (!m_player)
        return;
    const int status = m_player->status();
    if (statuses.isEmpty() || statuses.constLast() != status)
        statuses.append(status);
    const QString progress = m_player->progressText();
    if (progressTexts.isEmpty() || progressTexts.constLast() != progress)
        progressTexts.append(progress);
}

bool showsThePassword(const LogsModel &log)
{
    const QString text = (logLines(log) + capturedDebugOutput()).join(QLatin1Char('\n'));
    return text.contains(QStringLiteral("p@ss")) || text.contains(QStringLiteral("p%40ss"));
}

bool waitForStatus(const Player &player, int status, int timeoutMs)
{
    return waitUntil(timeoutMs, [&] { return player.status() == status; });
}

QStringList logLines(const LogsModel &log)
{
    return log.data(log.index(0, 0)).toString().split(QLatin1Char('\n'));
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}
