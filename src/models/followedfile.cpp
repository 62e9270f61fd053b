#include "followedfile.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Long enough for a writer to finish a short file, so that a truncate and its
// rewrite, or a rename and its events on the old and new file, count once.
constexpr int settleMs = 100;

} // namespace

FollowedFile::FollowedFile()
{
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(settleMs);
    connect(&m_settleTimer, &QTimer::timeout, this, &FollowedFile::settle);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_settleTimer, qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_settleTimer, qOverload<>(&QTimer::start));
}

bool FollowedFile::State::operator==(const State &other) const
{
    return exists == other.exists && size == other.size && modified == other.modified
           && metadataChanged == other.metadataChanged;
}

FollowedFile::State FollowedFile::currentState() const
{
    const QFileInfo file(m_path);
    State state;
    if (m_path.isEmpty() || !file.isFile())
        return state;
    state.exists = true;
    state.size = file.size();
    state.modified = file.lastModified();
    // A rename changes it too: a replacement written in the same instant as
    // the file before still counts.
    state.metadataChanged = file.metadataChangeTime();
    return state;
}

void FollowedFile::follow(const QString &path)
{
    m_settleTimer.stop();
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    m_path = path;
    watch();
    const bool existed = m_seen.exists;
    m_seen = currentState();
    if (m_seen.exists != existed)
        emit existsChanged();
}

// The file's watch is made again each time: one that was replaced is a new
// file, which the old watch no longer sees.
void FollowedFile::watch()
{
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (m_path.isEmpty())
        return;
    const QFileInfo file(m_path);
    if (m_watcher.directories().isEmpty() && file.absoluteDir().exists())
        m_watcher.addPath(file.absolutePath());
    if (file.isFile())
        m_watcher.addPath(m_path);
}

void FollowedFile::settle()
{
    watch();
    const State state = currentState();
    if (state == m_seen)
        return;
    const bool existed = m_seen.exists;
    m_seen = state;
    if (state.exists != existed)
        emit existsChanged();
    if (state.exists)
        emit changed();
}
