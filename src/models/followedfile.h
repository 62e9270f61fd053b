#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

// One file followed by its path through the ways programs write it: rewritten
// in place, replaced by a rename, deleted and created again, or created only
// after it was chosen. The system's watcher drops a file that is replaced, so
// the file's folder is watched too and the file added back whenever it is
// there. Each change is announced once, when the writer has had a moment to
// finish; events that leave the file as it was (other files of the folder)
// announce nothing.
class FollowedFile : public QObject
{
    Q_OBJECT

public:
    FollowedFile();

    // An empty path follows nothing.
    void follow(const QString &path);
    QString path() const { return m_path; }
    bool exists() const { return m_seen.exists; }

signals:
    // The file is there and differs from when it was followed or last changed.
    void changed();
    void existsChanged();

private:
    struct State {
        bool exists = false;
        qint64 size = -1;
        QDateTime modified;
        QDateTime metadataChanged;
        bool operator==(const State &other) const;
    };

    State currentState() const;
    void watch();
    void settle();

    QFileSystemWatcher m_watcher;
    QTimer m_settleTimer;
    QString m_path;
    State m_seen;
};
