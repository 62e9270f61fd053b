#pragma once

#include <QJsonObject>
#include <QLocalServer>
#include <QString>

#include <functional>

class QLocalSocket;

// The channel through which commands reach the copy of the program that runs
// for this user: a local socket only this user can open (in the user's
// runtime folder on Linux, a named pipe on Windows), never a network port.
// A command is one line of JSON, {"command": "title", "text": "..."}; the
// answer is one line of JSON, {"ok": true, "message": "...", "status": {...}}.

// The channel's name for this user.
QString commandChannelName();

// The running copy's side. Reads only whole, well-formed, bounded commands:
// garbage, a line over 64 KiB, half a command or a client that sends nothing
// for 5 s is dropped without effect.
class CommandServer : public QObject
{
    Q_OBJECT

public:
    // Carries out one command: the answer's "ok", "message" and "status".
    using Handler = std::function<QJsonObject(const QString &command, const QString &text)>;

    explicit CommandServer(Handler handler, QObject *parent = nullptr);
    // Opens the channel; a channel left by a copy that is gone (killed, a
    // power cut) is taken over. False when another copy answers on it.
    bool listen();

private:
    void takeClient();
    void readCommand(QLocalSocket *client);

    Handler m_handler;
    QLocalServer m_server;
};

// The other side, for the command line. The running copy's answer, or an
// empty object when no copy answers within timeoutMs.
QJsonObject sendCommand(const QString &command, const QString &text = QString(), int timeoutMs = 10000);
