#include "player.h"

#include "silencewatch.h"

#include "models/logsmodel.h"

#include <QThread>

#include <algorithm>
#include <climits>
#include <limits>
#include <utility>

namespace {

// Whether field took a new value.
template<typename T>
bool update(T &field, const T &value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

Player::Player()
    : QObject(nullptr)
{
}

int Player::meterValue(double level)
{
    // The negated test also sends NaN to 0: converting NaN to int is undefined.
    if (!(level > -40.0))
        return 0;
    const double value = (level + 40.0) / 40.0 * 100.0;
    return value < double(INT_MAX) ? int(value) : INT_MAX;
}

QString Player::song() const { return locked(m_song); }
QString Player::errorText() const { return locked(m_errorText); }
QString Player::progressText() const { return locked(m_progressText); }
double Player::elapsed() const { return locked(m_elapsed); }
int Player::status() const { return locked(m_status); }
int Player::leftVolume() const { return locked(m_leftVolume); }
int Player::rightVolume() const { return locked(m_rightVolume); }
int Player::deadAirSeconds() const { return locked(m_deadAirSeconds); }
bool Player::isPlaying() const { return locked(m_playing); }
bool Player::isStopRequested() const { return locked(m_stopRequested); }
QVector<StreamSettings> Player::streams() const { return locked(m_streams); }
std::vector<StreamState> Player::streamStates() const { return locked(m_streamStates); }

StreamState Player::streamState(int stream) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return stream >= 0 && size_t(stream) < m_streamStates.size() ? m_streamStates[size_t(stream)] : StreamState();
}
QString Player::liveSourceIndex() const { return locked(m_liveSourceIndex); }
QString Player::liveSourceName() const { return locked(m_liveSourceName); }
bool Player::reconnects() const { return locked(m_reconnects); }
int Player::silenceSeconds() const { return locked(m_silenceSeconds); }
bool Player::records() const { return locked(m_records); }
QString Player::recordFolder() const { return locked(m_recordFolder); }
QString Player::recordingProblem() const { return locked(m_recordingProblem); }
QString Player::recordingFile() const { return locked(m_recordingFile); }
QString Player::startTitle() const { return locked(m_startTitle); }

qint64 Player::msSinceSound() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sinceSound.isValid() ? m_sinceSound.elapsed() : -1;
}
CaptureBackend Player::captureBackend() const { return locked(m_captureBackend); }
bool Player::isBeingDestroyed() const { return locked(m_beingDestroyed); }

bool Player::refusesTitles(int stream) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return size_t(stream) < m_streamStates.size() && m_streamStates[size_t(stream)].titlesRefused;
}

bool Player::takesTitleRequests(int stream) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return size_t(stream) < m_streamStates.size() && m_streamStates[size_t(stream)].readyForTitles;
}

bool Player::isOnAir() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return isOnAirLocked();
}

bool Player::isOnAirLocked() const
{
    return m_playing && !m_stopRequested && (m_status == OnAir || (m_status == Error && m_metadataErrorOnAir));
}

void Player::setCaptureBackend(const CaptureBackend &backend)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_captureBackend = backend;
}

void Player::setSong(const QString &value, int stream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_song = value;
    if (m_jobThread)
        m_newTitles.append(value);
    if (m_status == Error && m_metadataErrorOnAir && m_playing && !m_stopRequested) {
        m_status = OnAir;
        m_errorText = QString();
    }
    if (size_t(stream) < m_streamStates.size() && m_streamStates[size_t(stream)].status == OnAir)
        m_streamStates[size_t(stream)].text = QStringLiteral("On Air");
    emit dataChanged();
}

void Player::setTitlesRefused(int stream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (size_t(stream) >= m_streamStates.size() || std::exchange(m_streamStates[size_t(stream)].titlesRefused, true))
        return;
    LogsModel::log(streamPrefixLocked(stream)
                   + QStringLiteral("The server takes no titles for %1 streams").arg(m_streams.at(stream).codec.shownName));
}

QString Player::streamPrefixLocked(int stream) const
{
    return m_streams.size() > 1 ? QStringLiteral("[%1] ").arg(m_streams.at(stream).label()) : QString();
}

QString Player::streamPrefix(int stream) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return streamPrefixLocked(stream);
}

void Player::logStream(int stream, const QString &line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    LogsModel::log(streamPrefixLocked(stream) + line);
}

// Several streams: On Air while one of them is, changing while one of them
// connects or waits to, in Error with the last stream's error once none is
// left. A stop shows as changing until the run ends.
void Player::showStreamsLocked()
{
    if (m_streamStates.size() < 2 || m_stopRequested)
        return;
    const auto count = [this](int status) {
        return int(std::count_if(m_streamStates.cbegin(), m_streamStates.cend(),
                                 [status](const StreamState &state) { return state.status == status; }));
    };
    if (count(OnAir) > 0) {
        if (m_status != OnAir)
            m_progressText.clear();
        m_status = OnAir;
        m_playing = true;
        m_beenOnAir = true;
    } else if (size_t(count(Error)) < m_streamStates.size()) {
        m_status = Changing;
        m_progressText = m_beenOnAir ? QStringLiteral("0 of %1 streams on air").arg(m_streamStates.size())
                                     : QStringLiteral("Connecting to remote server");
    } else {
        m_status = Error;
        m_errorText = m_lastStreamError;
    }
}

void Player::setStreamConnecting(int stream, const QString &runText)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    StreamState &state = m_streamStates.at(size_t(stream));
    state.status = Changing;
    state.text = QStringLiteral("Connecting");
    state.readyForTitles = false;
    if (m_streamStates.size() == 1 && !runText.isEmpty())
        m_progressText = runText;
    showStreamsLocked();
    emit dataChanged();
}

void Player::setStreamWaiting(int stream, const QString &runText, int secondsLeft)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    StreamState &state = m_streamStates.at(size_t(stream));
    const QString text = QStringLiteral("Reconnecting in %1 s").arg(secondsLeft);
    if (state.status == Changing && state.text == text && state.runText == runText)
        return;
    state.status = Changing;
    state.text = text;
    state.runText = runText;
    state.readyForTitles = false;
    if (m_streamStates.size() == 1) {
        lock.unlock();
        setReconnecting(runText);
        return;
    }
    // As with one stream: a run that waits to connect again plays, and a
    // tap stops it, also before any stream has been on the air.
    m_playing = true;
    showStreamsLocked();
    emit dataChanged();
}

void Player::setStreamOnAir(int stream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    StreamState &state = m_streamStates.at(size_t(stream));
    state.status = OnAir;
    state.text = QStringLiteral("On Air");
    if (m_streamStates.size() == 1) {
        m_progressText.clear();
        m_playing = true;
        m_status = OnAir;
    }
    showStreamsLocked();
    emit dataChanged();
    emit streamOnAir(stream);
}

void Player::reportStreamError(int stream, const QString &message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    StreamState &state = m_streamStates.at(size_t(stream));
    state.status = Error;
    state.text = message;
    state.readyForTitles = false;
    m_runReported = true;
    if (m_streamStates.size() == 1) {
        m_metadataErrorOnAir = false;
        showErrorLocked(message);
        return;
    }
    m_lastStreamError = streamPrefixLocked(stream) + message;
    LogsModel::log(m_lastStreamError);
    showStreamsLocked();
    emit dataChanged();
}

void Player::setProgressText(const QString &value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progressText = value;
    emit dataChanged();
}

// Every notification wakes the window's thread: the loop publishes what a
// packet changed at once, and a meter that stays where it was costs nothing.
void Player::setProgress(std::optional<double> elapsedSeconds, std::optional<double> leftLevel,
                         std::optional<double> rightLevel)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    bool changed = false;
    if (elapsedSeconds)
        changed = update(m_elapsed, *elapsedSeconds);
    if (leftLevel)
        changed = update(m_leftVolume, meterValue(*leftLevel)) || changed;
    if (rightLevel)
        changed = update(m_rightVolume, meterValue(*rightLevel)) || changed;
    if ((leftLevel || rightLevel)
        && !SilenceWatch::isSilent(leftLevel.value_or(-std::numeric_limits<double>::infinity()),
                                   rightLevel.value_or(-std::numeric_limits<double>::infinity())))
        m_sinceSound.start();
    if (changed)
        emit dataChanged();
}

void Player::setDeadAirSeconds(int seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deadAirSeconds = seconds;
    emit dataChanged();
}

void Player::setReadyForTitles(int stream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streamStates.at(size_t(stream)).readyForTitles = true;
    emit readyForTitles(stream);
}

void Player::setReconnecting(const QString &progressText)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_playing = true;
    m_status = Changing;
    m_progressText = progressText;
    emit dataChanged();
}

void Player::reportError(const QString &message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_jobThread && QThread::currentThread() == m_jobThread)
        m_runReported = true;
    m_metadataErrorOnAir = false;
    showErrorLocked(message);
}

void Player::reportMetadataError(int stream, const QString &message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_streamStates.size() > 1) {
        if (m_streamStates.at(size_t(stream)).status == OnAir)
            m_streamStates[size_t(stream)].text = message;
        LogsModel::log(streamPrefixLocked(stream) + message);
        emit dataChanged();
        return;
    }
    m_metadataErrorOnAir = m_status == OnAir || (m_status == Error && m_metadataErrorOnAir);
    showErrorLocked(message);
}

void Player::showErrorLocked(const QString &message)
{
    m_status = Error;
    m_errorText = message;
    LogsModel::log(message);
    emit dataChanged();
}

void Player::setRecordingFile(const QString &path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recordingFile = path;
}

void Player::reportRecordingStopped(const QString &reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recordingProblem = QStringLiteral("Recording stopped: ") + reason;
    LogsModel::log(m_recordingProblem);
    emit recordingProblemChanged();
}

Player::Requests Player::takeRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_stopRequested, std::exchange(m_newTitles, QStringList()), isOnAirLocked()};
}

void Player::requestStop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    requestStopLocked();
}

void Player::requestStopLocked()
{
    if (m_status != Error)
        m_status = Changing;
    m_stopRequested = true;
}

void Player::endRun()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Called on the job thread itself, so the thread is still running here.
    if (m_jobThread && !m_jobThread->isFinished()) {
        m_jobThread->quit();
        m_jobThread = nullptr;
    }
    m_song = QString();
    m_elapsed = 0.0;
    m_leftVolume = 0;
    m_rightVolume = 0;
    m_deadAirSeconds = 0;
    m_playing = false;
    m_stopRequested = false;
    // A stream's error stays on show until the next start.
    for (StreamState &state : m_streamStates) {
        if (state.status != Error)
            state = StreamState{Off, QString(), QString(), false, false};
    }
    if (m_status != Error) {
        m_errorText = QString();
        m_status = Off;
    }
    emit dataChanged();
    emit hasShutdown();
}

// Called with the mutex held, before the job thread exists. No defaults and no
// validation: the window sends complete settings. Only "reconnect",
// "silenceSeconds", "record" and "inStreamTitles" may be absent, from maps
// made before they existed, and are then off; "title", the title known at the
// start, is absent while there is none, and "streams", the further streams
// that are on, while there are none.
void Player::applySettings(const QVariantMap &settings)
{
    const QVariantMap stream = settings.value(QStringLiteral("stream")).toMap();
    const QVariantMap liveSource = settings.value(QStringLiteral("liveSource")).toMap();
    m_streams = {StreamSettings::fromMap(stream)};
    for (const QVariant &further : settings.value(QStringLiteral("streams")).toList())
        m_streams.append(StreamSettings::fromMap(further.toMap()));
    m_streamStates.assign(size_t(m_streams.size()),
                          StreamState{Changing, QStringLiteral("Connecting"), QString(), false, false});
    m_lastStreamError.clear();
    m_beenOnAir = false;
    m_reconnects = stream.value(QStringLiteral("reconnect")).toBool();
    m_silenceSeconds = stream.value(QStringLiteral("silenceSeconds")).toInt();
    m_records = stream.value(QStringLiteral("record")).toBool();
    m_recordFolder = stream.value(QStringLiteral("recordFolder")).toString();
    m_startTitle = settings.value(QStringLiteral("title")).toString();
    m_recordingFile.clear();
    m_sinceSound.invalidate();
    m_newTitles.clear();
    m_liveSourceIndex = liveSource.value(QStringLiteral("index")).toString();
    m_liveSourceName = liveSource.value(QStringLiteral("name")).toString();
}
