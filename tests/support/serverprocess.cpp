#include "serverprocess.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <unistd.h>

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
                          const QProcessEnvironment &environment)
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
    if (!m_folder)
        return QString();
    QFile file(m_folder->path() + QStringLiteral("/output.txt"));
    file.open(QIODevice::ReadOnly);
    return QString::fromLocal8Bit(file.readAll());
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
