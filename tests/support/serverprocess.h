#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A server program started by a test in a private temporary folder. It is
// killed with the test process, also when the test crashes, and its folder is
// removed when the object goes.
class ServerProcess
{
public:
    ServerProcess() = default;
    ~ServerProcess();

    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // Creates the folder (readable by everybody) on first use.
    QString folder();
    // Starts program with arguments; asUnprivilegedUser runs it as nobody when
    // the tests run as root. Returns false with errorString() set on failure.
    bool start(const QString &program, const QStringList &arguments, bool asUnprivilegedUser,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    void stop();
    bool isRunning() const;
    QString output() const;
    QString errorString() const { return m_errorString; }
    void setErrorString(const QString &text) { m_errorString = text; }

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<QProcess> m_process;
    QString m_errorString;
};

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call.
quint16 freeLoopbackPort();
