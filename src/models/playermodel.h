#pragma once

#include "engine/player.h"
#include "models/followedfile.h"
#include "models/listenerwatch.h"

#include <QAbstractListModel>
#include <QTimer>
#include <QVariant>

class QNetworkReply;

// The window's view of the engine: one row, the stream, whose roles carry
// everything the window shows, and the commands the window sends back.
class PlayerModel : public QAbstractListModel
{
    Q_OBJECT
    // Why the run's recording stopped early, for a warning in the window;
    // empty while it goes well and from the next start on.
    Q_PROPERTY(QString recordingProblem READ recordingProblem NOTIFY recordingProblemChanged)
    // The now-playing file followed (a local path; empty when none), and
    // whether it is there at present.
    Q_PROPERTY(QString metadataFile READ metadataFile NOTIFY metadataFileChanged)
    Q_PROPERTY(bool metadataFileExists READ metadataFileExists NOTIFY metadataFileChanged)
    // Whole seconds of silence on the input while the run warns of dead air;
    // 0 while it does not. Beside the row, whose roles stay as they are.
    Q_PROPERTY(int deadAirSeconds READ deadAirSeconds NOTIFY deadAirSecondsChanged)

public:
    enum Role {
        SongRole = Qt::UserRole + 1,
        PositionRole,
        StatusRole,
        LeftVolumeRole,
        RightVolumeRole,
        IsPlayingRole,
        IsErrorRole,
        IsChangingRole,
        // Each stream of the run: its "label", "format", "state" (the text
        // its row shows) and "status"; what a listener got, "heard" (empty
        // before the first visit) and "heardWell"; and the server's
        // "listeners" (-1 where it tells none).
        StreamsRole,
        // "2 of 3 streams on air" while a run of several is on the air
        // without all of them; empty otherwise.
        StreamsOnAirRole,
    };

    PlayerModel();
    ~PlayerModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Texts shown for a status and for an elapsed time.
    static QString statusText(int status);
    static QString elapsedText(double seconds);

    QString recordingProblem() const { return player.recordingProblem(); }

    // The engine behind the model, for tests and benchmarks.
    Player &engine() { return player; }

    QString metadataFile() const { return nowPlayingFile.path(); }
    bool metadataFileExists() const { return nowPlayingFile.exists(); }
    int deadAirSeconds() const { return shownDeadAirSeconds; }

    // The row's values, role by role from SongRole on.
    QVariantList rowValues() const;

signals:
    void metadataFileChanged();
    void deadAirSecondsChanged(int seconds);
    void recordingProblemChanged();

public slots:
    void playerDataChanged();
    void onMetadataChange(QString file);

public:
    Q_INVOKABLE void setAutoStart(bool autoStart);
#ifdef Q_OS_LINUX
    // At start: a logon entry written for the executable's earlier name
    // (TavolinEncoder) is written again for this executable.
    static void renewRenamedAutoStart();
#endif
    Q_INVOKABLE void metadataUpdate(QString metadata);
    Q_INVOKABLE void setMetadataFile(QString file);
    // Follows the file at a local path without sending its title now: the
    // title goes out when the stream is on the air. For the stored choice at start.
    Q_INVOKABLE void followMetadataFile(QString path);
    Q_INVOKABLE void togglePlayPause(QVariantMap settings);
    Q_INVOKABLE QVariant liveSources();
    Q_INVOKABLE void shutdown();
    // How the window names a stored stream (its "label") and shows its
    // "format", as the engine would, from the stream's stored settings.
    Q_INVOKABLE QVariantMap describeStream(QVariantMap stream) const;

private:
    QString positionText() const;
    QVariantList streamRows() const;
    QString streamsOnAirText() const;
    void notifyRowChanged();
    void endNotifyInterval();
    void listenToEngine();
    void announceDeadAir();
    void metadataReplyHandler(QNetworkReply *reply, int stream, const QString &metadata);
    void onMetadataFileChange();
    void sendTitleOnAir(int stream);
    void sendTitle(int stream, const QString &metadata);
    // The first line of the followed file; empty when there is none.
    QString nowPlayingLine() const;

    Player player;
    ListenerWatch listeners{player};
    QVariant liveSourcesCache;
    FollowedFile nowPlayingFile;
    // The run's latest title, typed or from the file: each stream's server
    // gets it once the stream takes titles, at its start and after each
    // reconnection.
    QString runTitle;
    // The engine changes about 100 times a second on air; the window is told
    // at most once per interval, the latest values, the last change always.
    QTimer notifyInterval;
    QMetaObject::Connection engineChanges;
    QVariantList announcedValues;
    // The engine's value as last announced, read on this thread.
    int shownDeadAirSeconds = 0;
};
