#include "serverprocess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
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

QString ServerProcess::folder()
{
    if (!m_folder) {
        m_folder = std::make_unique<QTemporaryDir>();
        // Read, write and enter for owner, user, group and others.
        QFile::setPermissions(m_folder->path(), QFileDevice::Permissions(0x7777));
    }
    return m_folder->path();
}

bool ServerProcess::start(const QString &program, const QStringList &arguments, bool asUnprivilegedUser,
                          const std::function<bool()> &answers, const QProcessEnvironment &environment)
{
    stop();
    // setpriv makes the kernel kill the server when the test process dies.
    QStringList wrapped{QStringLiteral("--pdeathsig"), QStringLiteral("KILL")};
    if (asUnprivilegedUser && geteuid() == 0)
        wrapped << QStringLiteral("--reuid=nobody") << QStringLiteral("--regid=nogroup")
                << QStringLiteral("--clear-groups");
    wrapped << program << arguments;

    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(folder());
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(folder() + QStringLiteral("/output.txt"));
    m_process->start(QStringLiteral("setpriv"), wrapped);
    // A program that is not installed ends at once, with setpriv's message.
    if (!m_process->waitForStarted(5000) || !waitUntil(10000, [&] { return !isRunning() || answers(); })
        || !isRunning()) {
        m_errorString = program + QStringLiteral(" did not answer: ") + m_process->errorString() + output();
        stop();
        return false;
    }
    return true;
}

void ServerProcess::stop()
{
    if (!m_process)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
    m_process.reset();
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
