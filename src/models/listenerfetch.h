#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <memory>

class QTcpSocket;

// One listener's visit to a stream: connects to the listener address as a
// player does (HTTP or HTTPS, or a Shoutcast server's "ICY" answer), reads
// about three seconds of the stream and hangs up, all within five seconds.
// Main thread, without blocking it.
class ListenerFetch : public QObject
{
    Q_OBJECT

public:
    // The User-Agent, by which a station leaves these visits out of its statistics.
    static const QByteArray userAgent;

    // certificateFile: trusted for HTTPS beside the system's authorities, as
    // by the stream's own connection.
    ListenerFetch(const QUrl &address, const QString &certificateFile, QObject *parent = nullptr);
    ~ListenerFetch() override;
    void start();

    // Once finished: why nothing came (empty when the server answered), the
    // status code of the answer, its content type and the stream's bytes.
    QString error() const { return m_error; }
    int status() const { return m_status; }
    QString contentType() const { return m_contentType; }
    QByteArray body() const { return m_body; }

signals:
    void finished();

private:
    void sendRequest();
    void readAnswer();
    void finish(const QString &error);

    QUrl m_address;
    // A QSslSocket for HTTPS alone: TLS costs its libraries' memory.
    std::unique_ptr<QTcpSocket> m_socket;
    QTimer m_deadline;
    QTimer m_listening;
    QByteArray m_head;
    bool m_headRead = false;
    bool m_finished = false;
    QString m_error;
    int m_status = 0;
    QString m_contentType;
    QByteArray m_body;
};
