#pragma once

#include <QObject>
#include <QSettings>
#include <QVariant>
#include <QVariantMap>

// The names under which Qt keeps the program's settings (and its version):
// the same for each of its programs, whatever the executable is called.
void setApplicationIdentity();

// The default of each key that the program stores, one table for the
// window's QML (as the singleton StoredDefaults) and for the station without
// a window, which reads the same file.
class StoredDefaults : public QObject
{
    Q_OBJECT
    // One stream's keys: the first stream's at the top level, each further
    // stream's in its group.
    Q_PROPERTY(QVariantMap stream READ stream CONSTANT)
    // The run's keys beside the first stream's.
    Q_PROPERTY(QVariantMap run READ run CONSTANT)
    // A further stream's own key.
    Q_PROPERTY(QVariantMap furtherStream READ furtherStream CONSTANT)
    Q_PROPERTY(QVariantMap liveSource READ liveSource CONSTANT)
    Q_PROPERTY(QVariantMap startup READ startup CONSTANT)
    Q_PROPERTY(QVariantMap nowPlaying READ nowPlaying CONSTANT)

public:
    static QVariantMap stream();
    static QVariantMap run();
    static QVariantMap furtherStream();
    static QVariantMap liveSource();
    static QVariantMap startup();
    static QVariantMap nowPlaying();
};

// The stored value as the default's type, or nothing when it does not fit.
// Every number the program keeps is a count, an index, a port or a rate.
QVariant fittingValue(const QVariant &stored, int type);

// The keys of defaults as the store (at its current group) holds them: each
// missing or unfitting one as its default, the latter with a log line. It
// writes nothing.
QVariantMap readStored(const QSettings &store, const QVariantMap &defaults);

// How many of the groups prefix + first, prefix + (first + 1), ... the store
// holds, counted up to the first missing one.
int storedGroupCount(const QSettings &store, const QString &prefix, int first);

// The run that the stored settings describe, as a tap on play in the window
// starts it: the settings map for the Player (without a capture device when
// none is stored), and the followed now-playing file.
struct StoredRun
{
    QVariantMap settings;
    QString metadataFile;
};
StoredRun readStoredRun();
