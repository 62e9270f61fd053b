#include "player.h"

#include "models/logsmodel.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace {

constexpr int shutdownTimeoutMs = 2000;

} // namespace

Player::~Player()
{
    // A run still active (the window closed after the shutdown time-out) must
    // not outlive the Player. FFmpeg calls that honour the interrupt callback
    // give up at once, the server connection within its I/O time-out, a
    // capture device that delivers nothing is left to the capture thread, and
    // the job thread is waited for.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_beingDestroyed = true;
        if (m_jobThread)
            requestStopLocked();
    }
    releaseFinishedJobThread();
}

void Player::releaseFinishedJobThread()
{
    // Once endRun has forgotten the thread, it only has to return from the run.
    if (m_lastJobThread)
        m_lastJobThread->wait();
    m_lastJobThread.reset();
}

void Player::togglePlayPause(const QVariantMap &settings)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_jobThread) {
        requestStopLocked();
        lock.unlock();
        emit dataChanged();
        return;
    }
    lock.unlock();
    releaseFinishedJobThread();
    lock.lock();

    applySettings(settings);
    // A warning about the last run's recording is no longer news.
    const bool hadRecordingProblem = !m_recordingProblem.isEmpty();
    m_recordingProblem.clear();
    m_jobThread = QThread::create([this] { runStream(); });
    m_lastJobThread.reset(m_jobThread);
    m_status = Changing;
    m_stopRequested = false;
    m_runReported = false;
    m_jobThread->start(QThread::InheritPriority);
    lock.unlock();
    emit dataChanged();
    if (hadRecordingProblem)
        emit recordingProblemChanged();
}

void Player::shutdown()
{
    QTimer timer;
    timer.setSingleShot(true);
    QEventLoop loop;
    // Connected before the run is looked at, so a run that ends in between
    // is not taken for a time-out.
    connect(this, &Player::hasShutdown, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_jobThread)
            return;
        requestStopLocked();
    }
    timer.start(shutdownTimeoutMs);
    loop.exec();
    if (!timer.isActive())
        LogsModel::log(QStringLiteral("Timeout while shuting down ffmpeg thread!"));
}
