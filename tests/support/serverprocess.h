#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

// Runs the event loop until condition() holds, at most timeoutMs. Unlike
// QTest::qWait it handles each queued event as it arrives, so a slot that
// records a Player's state sees short-lived states too.
bool waitUntil(int timeoutMs, const std::function<bool()> &condition);

// Runs a tool (pactl, ffprobe, openssl, ...) to its end, at most timeoutMs:
// its standard output, or nothing when it failed or took too long.
std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments, int timeoutMs = 10000,
                                  const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call.
quint16 freeLoopbackPort();

// A server program started by a test in a private temporary folder. It is
// killed with the test process, also when the test crashes, and its folder is
// removed when the object goes.
class ServerProcess
{
public:
    ServerProcess() = default;
    ~ServerProcess() { stop(); }

    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // Creates the folder (readable and writable by everybody) on first use.
    QString folder();
    // Starts program with arguments; asUnprivilegedUser runs it as nobody when
    // the tests run as root. Then waits up to 10 s until answers() holds.
    // Returns false with errorString() set (and the server stopped) on failure.
    bool start(const QString &program, const QStringList &arguments, bool asUnprivilegedUser,
               const std::function<bool()> &answers,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    void stop();
    bool isRunning() const { return m_process && m_process->state() == QProcess::Running; }
    QString errorString() const { return m_errorString; }

private:
    // What the server wrote: its output and its error.log, if it keeps one there.
    QString output() const;

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<QProcess> m_process;
    QString m_errorString;
};
