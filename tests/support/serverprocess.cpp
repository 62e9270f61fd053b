#include "serverprocess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>

#include <unistd.h>

bool waitUntil(int timeoutMs, const std::function<bool()> &condition)
{
    if (condition())
        return true;
    // The answer is the last evaluation's: a condition that asks a server
    // need not give the same answer twice in a row.
    bool met = false;
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    // The timer rests while the condition runs: a condition that waits in an
    // event loop of its own would otherwise be asked again inside itself, and
    // the outer evaluation's answer would overwrite the inner one's.
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        poll.stop();
        met = condition();
        if (met || deadline.hasExpired())
            loop.quit();
        else
            poll.start();
    });
    poll.start(5);
    loop.exec();
    return met;
}

std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments, int timeoutMs,
                                  const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

ServerProcess::~ServerProcess()
{
    stop();
}

QString ServerProcess::folder()
{
    if (!m_folder) {
        m_folder = std::make_unique<QTemporaryDir>();
        QFile::setPermissions(m_folder->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::WriteOther
                                  | QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                  | QFileDevice::ExeGroup);
    }
    return m_folder->path();
}

bool ServerProcess::start(const QString &program, const QStringList &arguments, bool asUnprivilegedUser,
                          const std::function<bool()> &answers, const QProcessEnvironment &environment)
{
    stop();
    const QString executable = QStandardPaths::findExecutable(program);
    if (executable.isEmpty()) {
        m_errorString = program + QStringLiteral(" is not installed");
        return false;
    }
    // setpriv makes the kernel kill the server when the test process dies.
    QStringList wrapped{QStringLiteral("--pdeathsig"), QStringLiteral("KILL")};
    if (asUnprivilegedUser && geteuid() == 0)
        wrapped << QStringLiteral("--reuid=nobody") << QStringLiteral("--regid=nogroup")
                << QStringLiteral("--clear-groups");
    wrapped << executable << arguments;

    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(folder());
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(folder() + QStringLiteral("/output.txt"));
    m_process->start(QStringLiteral("setpriv"), wrapped);
    if (!m_process->waitForStarted(5000)) {
        m_errorString = QStringLiteral("could not start ") + program + QStringLiteral(": ")
            + m_process->errorString();
        m_process.reset();
        return false;
    }
    if (!waitUntil(10000, [&] { return !isRunning() || answers(); }) || !isRunning()) {
        m_errorString = program + QStringLiteral(" did not answer: ") + output();
        stop();
        return false;
    }
    return true;
}

void ServerProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    m_process.reset();
}

bool ServerProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString ServerProcess::output() const
{
    QString text;
    for (const QString &name : {QStringLiteral("/error.log"), QStringLiteral("/output.txt")}) {
        QFile file(m_folder->path() + name);
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromLocal8Bit(file.readAll());
    }
    // The latest lines: a test's message shows only so much.
    return text.right(700);
}
