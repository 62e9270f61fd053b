#include "recorder.h"

#include "player.h"
#include "recordingmuxer.h"

#include "models/logsmodel.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <utility>

extern "C" {
#include <libavcodec/packet.h>
}

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

const QString fallbackName = QStringLiteral("Tavolin Encoder");
// Longer names are cut, so that the whole file name stays within the 255
// bytes that common file systems allow, whatever the letters.
constexpr int longestName = 64;
// A kill or a power cut loses at most about this much of the recording: the
// packets are gathered and written, and the disk is synced, once per second.
constexpr int syncEverySeconds = 1;
// CUE sheets count time in frames of 1/75 s.
constexpr int64_t cueFramesPerSecond = 75;

QString safeName(const QString &streamName)
{
    QString name = streamName.trimmed().left(longestName);
    for (QChar &c : name) {
        if (c.unicode() < 0x20 || QStringLiteral("<>:\"/\\|?*").contains(c))
            c = QLatin1Char('_');
    }
    return name.isEmpty() ? fallbackName : name;
}

// A CUE value has no escapes: its own quote marks become apostrophes.
QByteArray cueText(const QString &text)
{
    return '"' + QString(text).replace(QLatin1Char('"'), QLatin1Char('\'')).toUtf8() + '"';
}

QByteArray cueTime(int64_t samples, int sampleRate)
{
    const int64_t frames = samples * cueFramesPerSecond / sampleRate;
    return QStringLiteral("%1:%2:%3")
        .arg(frames / (60 * cueFramesPerSecond), 2, 10, QLatin1Char('0'))
        .arg(frames / cueFramesPerSecond % 60, 2, 10, QLatin1Char('0'))
        .arg(frames % cueFramesPerSecond, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

QString cuePath(const QString &recordingPath)
{
    return recordingPath.left(recordingPath.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".cue");
}

// Written data reaches the disk, not only the system's cache.
void syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    _commit(file.handle());
#else
    ::fdatasync(file.handle());
#endif
}

} // namespace

QString defaultRecordingFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/Tavolin Encoder");
}

QString recordingPath(const QString &folder, const QString &streamName, const QDateTime &start,
                      const QString &extension)
{
    const QString base = QDir(folder).filePath(safeName(streamName) + QLatin1Char(' ')
                                               + start.toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")));
    QString path = base + extension;
    for (int copy = 2; QFileInfo::exists(path) || QFileInfo::exists(cuePath(path)); ++copy)
        path = base + QStringLiteral(" (%1)").arg(copy) + extension;
    return path;
}

Recorder::Recorder(Player &player)
    : m_player(player)
    , m_codec(player.streams().constFirst().codec)
    , m_folder(player.recordFolder())
    , m_streamName(player.streams().constFirst().name)
    , m_start(QDateTime::currentDateTime())
    , m_sampleRate(player.streams().constFirst().sampleRate)
{
    if (m_folder.isEmpty())
        m_folder = defaultRecordingFolder();
}

Recorder::~Recorder() = default;

bool Recorder::open(const AVCodecContext *encoder)
{
    if (!QDir().mkpath(m_folder)) {
        stop(QStringLiteral("Could not create the folder ") + m_folder);
        return false;
    }
    m_file.setFileName(recordingPath(m_folder, m_streamName, m_start, m_codec.fileExtension));
    // Unbuffered: the recorder gathers whole packets (the muxer whole pages
    // and frames) itself, so the file always ends on one.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        stop(QStringLiteral("Could not create %1 (%2)").arg(m_file.fileName(), m_file.errorString()));
        return false;
    }
    LogsModel::log(QStringLiteral("Recording to ") + m_file.fileName());
    m_player.setRecordingFile(m_file.fileName());
    if (m_codec.fileFormat) {
        m_muxer = std::make_unique<RecordingMuxer>();
        const int result = m_muxer->open(m_file, m_codec.fileFormat, encoder);
        if (result < 0) {
            failedToWrite(m_muxer->errorText(result));
            return false;
        }
    }
    return true;
}

void Recorder::write(const AVPacket *packet, const AVCodecContext *encoder)
{
    if (m_stopped || (!m_file.isOpen() && !open(encoder)))
        return;
    if (m_muxer) {
        const int result = m_muxer->write(packet);
        if (result < 0) {
            failedToWrite(m_muxer->errorText(result));
            return;
        }
    } else {
        m_pending.append(reinterpret_cast<const char *>(packet->data), packet->size);
    }
    m_samples += packet->duration;
    if (m_samples - m_syncedSamples >= int64_t(syncEverySeconds) * m_sampleRate && writePending()) {
        syncToDisk(m_file);
        m_syncedSamples = m_samples;
    }
    for (const QString &title : std::exchange(m_newTitles, QStringList()))
        addTitle(title);
}

bool Recorder::writePending()
{
    if (m_muxer) {
        const int result = m_muxer->flush();
        if (result < 0)
            failedToWrite(m_muxer->errorText(result));
        return result >= 0;
    }
    if (m_file.write(m_pending) != m_pending.size()) {
        failedToWrite(m_file.errorString());
        return false;
    }
    m_pending.clear();
    return true;
}

void Recorder::addTitle(const QString &title)
{
    if (m_stopped || (m_tracks > 0 && title == m_lastTitle))
        return;
    m_lastTitle = title;
    QByteArray text;
    if (!m_cue.isOpen()) {
        m_cue.setFileName(cuePath(m_file.fileName()));
        if (!m_cue.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            stop(QStringLiteral("Could not create %1 (%2)").arg(m_cue.fileName(), m_cue.errorString()));
            return;
        }
        text = "TITLE " + cueText(m_streamName.isEmpty() ? fallbackName : m_streamName) + "\nFILE "
            + cueText(QFileInfo(m_file.fileName()).fileName()) + ' ' + m_codec.cueFileType + '\n';
    }
    const int separator = title.indexOf(QStringLiteral(" - "));
    text += QStringLiteral("  TRACK %1 AUDIO\n").arg(++m_tracks, 2, 10, QLatin1Char('0')).toLatin1();
    if (separator >= 0) {
        text += "    PERFORMER " + cueText(title.left(separator)) + '\n';
        text += "    TITLE " + cueText(title.mid(separator + 3)) + '\n';
    } else {
        text += "    TITLE " + cueText(title) + '\n';
    }
    text += "    INDEX 01 " + cueTime(m_samples, m_sampleRate) + '\n';
    if (m_cue.write(text) != text.size() || !m_cue.flush())
        stop(QStringLiteral("Could not write %1 (%2)").arg(m_cue.fileName(), m_cue.errorString()));
}

void Recorder::failedToWrite(const QString &error)
{
    stop(QStringLiteral("Could not write %1 (%2)").arg(m_file.fileName(), error));
}

void Recorder::stop(const QString &reason)
{
    m_stopped = true;
    m_player.reportRecordingStopped(reason);
}

void Recorder::finish()
{
    m_cue.close();
    if (!m_file.isOpen())
        return;
    if (!m_stopped)
        writePending();
    if (m_muxer && !m_stopped) {
        const int result = m_muxer->finish();
        if (result < 0)
            failedToWrite(m_muxer->errorText(result));
    }
    m_muxer.reset();
    m_file.close();
    LogsModel::log(QStringLiteral("Recording saved: ") + m_file.fileName());
}
