#pragma once

#include "engine/streamsettings.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class ListenerFetch;
class Player;
class QNetworkReply;

// What the listeners of each stream of a run get. A listener visits a stream
// 5 s after it went on the air (at the start and after each reconnection),
// then every 10 minutes, every minute while the last visit found something
// wrong; and the server's listener count is read every 30 s. Only streams on
// the air are looked at, one visit per stream at a time, each request bounded
// in time; nothing of it touches the capture or the streams. Main thread.
class ListenerWatch : public QObject
{
    Q_OBJECT

public:
    // What a stream's row shows of it.
    struct Shown
    {
        // "Heard by a listener HH:MM", or what a listener gets instead; empty
        // before the first visit.
        QString heard;
        bool heardWell = true;
        // The server's count, without our own visit; -1 where it tells none.
        int listeners = -1;
    };

    explicit ListenerWatch(Player &player);
    ~ListenerWatch() override;

    void streamOnAir(int stream);
    void runEnded();
    Shown shown(int stream) const;

signals:
    void changed();

private:
    struct Watched;

    Watched &watched(int stream);
    void visit(int stream);
    void visited(int stream);
    void requestCount(int stream, bool fallback);
    void countRead(int stream, QNetworkReply *reply, bool fallback);
    void show(int stream, const Shown &shown);
    // What a listener got, as the row says it; empty when all is well.
    QString problemOf(const ListenerFetch &fetch, const StreamSettings &stream) const;

    Player &m_player;
    QNetworkAccessManager m_network;
    std::vector<std::unique_ptr<Watched>> m_watched;
    // Counted up at each run's end: an answer of an earlier run is dropped.
    int m_run = 0;
};
