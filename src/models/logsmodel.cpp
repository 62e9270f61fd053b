#include "logsmodel.h"

#include <QDebug>
#include <QThread>

#include <mutex>
#include <utility>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int ffmpegHighestLevel = AV_LOG_INFO;
constexpr int ffmpegLibraryLevel = AV_LOG_WARNING;
constexpr int ffmpegLineSize = 1024;

// The log's own lock. It makes the current-model pointer safe against a model
// being destroyed while another thread logs, and keeps two threads from racing
// on FFmpeg's prefix flag. A std::mutex, whose hand-overs ThreadSanitizer
// sees, which it cannot in Qt 5's contended QMutex.
std::mutex logMutex;
LogsModel *currentLogModel = nullptr;
int ffmpegPrefixFlag = 1;

// Takes the held lock. Another thread's line is queued while the lock keeps
// the model alive. On the model's own thread nobody else can destroy it, so
// the lock is released first: the line is appended at once, and whatever
// that triggers may log again.
void deliverLogEntry(std::unique_lock<std::mutex> lock, const QString &entry)
{
    LogsModel *model = currentLogModel;
    if (!model)
        return;
    if (model->thread() == QThread::currentThread())
        lock.unlock();
    emit model->newLogEntry(entry);
}

} // namespace

LogsModel::LogsModel()
    : QAbstractListModel(nullptr)
{
    {
        std::lock_guard<std::mutex> lock(logMutex);
        currentLogModel = this;
    }
    av_log_set_level(ffmpegLibraryLevel);
    av_log_set_callback(ffmpegLogCallback);
    connect(this, &LogsModel::newLogEntry, this, &LogsModel::onNewLogEntry, Qt::AutoConnection);
    entries.append(QStringLiteral("Welcome to the Tavolin encoder!"));
    entries.append(QStringLiteral("Version: %1").arg(QStringLiteral(TAVOLIN_VERSION)));
}

LogsModel::~LogsModel()
{
    // Lines queued to this model before this point are discarded with its
    // posted events; later ones are dropped like those before construction.
    std::lock_guard<std::mutex> lock(logMutex);
    if (currentLogModel == this)
        currentLogModel = nullptr;
}

int LogsModel::rowCount(const QModelIndex &parent) const
{
    // A list: the one row has no children, or tree-walking views never end.
    return parent.isValid() ? 0 : 1;
}

QVariant LogsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() != 0 || index.column() != 0 || role != Qt::DisplayRole)
        return QVariant();
    return entries.join(QLatin1Char('\n'));
}

void LogsModel::log(const QString &message)
{
    deliverLogEntry(std::unique_lock<std::mutex>(logMutex), message.trimmed());
}

void LogsModel::onNewLogEntry(QString entry)
{
    entries.append(entry);
    if (entries.size() > MaximumEntries)
        entries.removeFirst();
    emit dataChanged(index(0, 0), index(0, 0));
    qDebug().noquote() << entry;
}

void ffmpegLogCallback(void *avcl, int level, const char *fmt, va_list vl)
{
    if (level > ffmpegHighestLevel)
        return;
    std::unique_lock<std::mutex> lock(logMutex);
    if (!currentLogModel)
        return;
    char line[ffmpegLineSize];
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &ffmpegPrefixFlag);
    deliverLogEntry(std::move(lock), QString::fromUtf8(line).trimmed());
}
