#include "player.h"

#include "models/logsmodel.h"

#include <QThread>

#include <climits>
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
Codec Player::codec() const { return locked(m_codec); }
QString Player::bitrate() const { return locked(m_bitrate); }
int Player::sampleRate() const { return locked(m_sampleRate); }
QString Player::channelLayout() const { return locked(m_channelLayout); }
QString Player::liveSourceIndex() const { return locked(m_liveSourceIndex); }
QString Player::liveSourceName() const { return locked(m_liveSourceName); }
QString Player::user() const { return locked(m_user); }
QString Player::password() const { return locked(m_password); }
QString Player::hostname() const { return locked(m_hostname); }
int Player::port() const { return locked(m_port); }
QString Player::protocol() const { return locked(m_protocol); }
QString Player::mount() const { return locked(m_mount); }
QString Player::outputUrl() const { return locked(m_outputUrl); }
QString Player::streamName() const { return locked(m_streamName); }
QString Player::description() const { return locked(m_description); }
QString Player::genre() const { return locked(m_genre); }
QString Player::url() const { return locked(m_url); }
QString Player::certificateFile() const { return locked(m_certificateFile); }
bool Player::reconnects() const { return locked(m_reconnects); }
int Player::silenceSeconds() const { return locked(m_silenceSeconds); }
bool Player::records() const { return locked(m_records); }
QString Player::recordFolder() const { return locked(m_recordFolder); }
QString Player::recordingProblem() const { return locked(m_recordingProblem); }
bool Player::sendsTitlesInStream() const { return locked(m_inStreamTitles); }
bool Player::refusesTitles() const { return locked(m_titlesRefused); }
bool Player::takesTitleRequests() const { return locked(m_readyForTitles); }
QString Player::startTitle() const { return locked(m_startTitle); }
CaptureBackend Player::captureBackend() const { return locked(m_captureBackend); }
bool Player::isBeingDestroyed() const { return locked(m_beingDestroyed); }

bool Player::isOnAir() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_playing && !m_stopRequested && (m_status == OnAir || (m_status == Error && m_metadataErrorOnAir));
}

void Player::setCaptureBackend(const CaptureBackend &backend)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_captureBackend = backend;
}

void Player::setOutputUrl(const QString &value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputUrl = value;
}

void Player::setSong(const QString &value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_song = value;
    if (m_jobThread)
        m_newTitles.append(value);
    if (m_status == Error && m_metadataErrorOnAir && m_playing && !m_stopRequested) {
        m_status = OnAir;
        m_errorText = QString();
    }
    emit dataChanged();
}

void Player::setTitlesRefused()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (std::exchange(m_titlesRefused, true))
        return;
    LogsModel::log(QStringLiteral("The server takes no titles for %1 streams").arg(m_codec.shownName));
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
    if (changed)
        emit dataChanged();
}

void Player::setDeadAirSeconds(int seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deadAirSeconds = seconds;
    emit dataChanged();
}

void Player::setOnAir()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_playing = true;
    m_status = OnAir;
    emit dataChanged();
}

void Player::setReadyForTitles()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_readyForTitles = true;
    emit readyForTitles();
}

void Player::setReconnecting(const QString &progressText)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_playing = true;
    m_status = Changing;
    m_readyForTitles = false;
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

void Player::reportMetadataError(const QString &message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
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
    return {m_stopRequested, std::exchange(m_newTitles, QStringList())};
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
    m_readyForTitles = false;
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
// start, is absent while there is none.
void Player::applySettings(const QVariantMap &settings)
{
    const QVariantMap stream = settings.value(QStringLiteral("stream")).toMap();
    const QVariantMap liveSource = settings.value(QStringLiteral("liveSource")).toMap();
    m_codec = codecOf(stream.value(QStringLiteral("encoder")).toString());
    m_channelLayout = QStringLiteral("stereo");
    m_bitrate = stream.value(QStringLiteral("bitrate")).toString();
    m_sampleRate = m_codec.fixedSampleRate ? m_codec.fixedSampleRate
                                           : stream.value(QStringLiteral("samplerate")).toInt();
    m_user = stream.value(QStringLiteral("user")).toString();
    m_password = stream.value(QStringLiteral("password")).toString();
    m_hostname = stream.value(QStringLiteral("hostname")).toString();
    m_port = stream.value(QStringLiteral("port")).toInt();
    m_protocol = stream.value(QStringLiteral("protocol")).toString().toLower();
    m_mount = stream.value(QStringLiteral("mount")).toString();
    m_streamName = stream.value(QStringLiteral("name")).toString();
    m_description = stream.value(QStringLiteral("description")).toString();
    m_genre = stream.value(QStringLiteral("genre")).toString();
    m_url = stream.value(QStringLiteral("url")).toString();
    m_certificateFile = stream.value(QStringLiteral("certificateFile")).toString();
    m_reconnects = stream.value(QStringLiteral("reconnect")).toBool();
    m_silenceSeconds = stream.value(QStringLiteral("silenceSeconds")).toInt();
    m_records = stream.value(QStringLiteral("record")).toBool();
    m_recordFolder = stream.value(QStringLiteral("recordFolder")).toString();
    m_inStreamTitles = m_codec.oggStream && stream.value(QStringLiteral("inStreamTitles")).toBool();
    m_titlesRefused = false;
    m_readyForTitles = false;
    m_startTitle = settings.value(QStringLiteral("title")).toString();
    m_newTitles.clear();
    m_liveSourceIndex = liveSource.value(QStringLiteral("index")).toString();
    m_liveSourceName = liveSource.value(QStringLiteral("name")).toString();
}
