#include "commandchannel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

constexpr qint64 longestCommand = 64 * 1024;
constexpr int clientMs = 5000;
// How long a starting copy asks whether another one answers on the channel.
constexpr int probeMs = 1000;

} // namespace

QString commandChannelName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("tavolin-encoder-") + qEnvironmentVariable("USERNAME");
#else
    // The runtime folder is the user's alone. Cron and other jobs without a
    // session do not name it: the login manager's folder for the user is the
    // one a desktop's copy uses; without one (a bare root shell) Qt's own
    // folder, which Qt keeps private too.
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString sessionFolder = QStringLiteral("/run/user/%1").arg(::getuid());
    if (folder.isEmpty() && QFileInfo(sessionFolder).isDir())
        folder = sessionFolder;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return QDir(folder).filePath(QStringLiteral("tavolin-encoder.socket"));
#endif
}

CommandServer::CommandServer(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &CommandServer::takeClient);
}

bool CommandServer::listen()
{
    const QString name = commandChannelName();
    if (m_server.listen(name))
        return true;
    if (m_server.serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // Someone answers: another copy. Nobody: what a copy that was killed left.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(probeMs))
        return false;
    QLocalServer::removeServer(name);
    return m_server.listen(name);
}

void CommandServer::takeClient()
{
    while (QLocalSocket *client = m_server.nextPendingConnection()) {
        client->setReadBufferSize(longestCommand + 1);
        auto *timeout = new QTimer(client);
        timeout->setSingleShot(true);
        connect(timeout, &QTimer::timeout, client, &QLocalSocket::abort);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { readCommand(client); });
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        timeout->start(clientMs);
    }
}

void CommandServer::readCommand(QLocalSocket *client)
{
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > longestCommand)
            client->abort();
        return;
    }
    const QByteArray line = client->readLine(longestCommand + 1);
    QJsonParseError error{};
    const QJsonObject request = QJsonDocument::fromJson(line, &error).object();
    const QString command = request.value(QStringLiteral("command")).toString();
    if (!line.endsWith('\n') || error.error != QJsonParseError::NoError || command.isEmpty()) {
        client->abort();
        return;
    }
    // Each client gets one answer; it is ended by whoever reads it.
    disconnect(client, &QLocalSocket::readyRead, this, nullptr);
    const QJsonObject answer = m_handler(command, request.value(QStringLiteral("text")).toString());
    client->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
    // Out before a quit ends the program.
    client->waitForBytesWritten(clientMs);
    client->disconnectFromServer();
}

QJsonObject sendCommand(const QString &command, const QString &text, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(commandChannelName());
    if (!socket.waitForConnected(timeoutMs))
        return {};
    QJsonObject request{{QStringLiteral("command"), command}};
    if (!text.isNull())
        request.insert(QStringLiteral("text"), text);
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    // Never a negative wait, which would be one without end.
    while (!answer.endsWith('\n') && !clock.hasExpired(timeoutMs)
           && (socket.bytesAvailable() > 0
               || socket.waitForReadyRead(int(std::max<qint64>(0, timeoutMs - clock.elapsed())))))
        answer += socket.readAll();
    return QJsonDocument::fromJson(answer).object();
}
