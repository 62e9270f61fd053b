#include "pulseserver.h"

#include "waituntil.h"

#include <QFileInfo>
#include <QProcess>

QString PulseServer::socketPath() const
{
    return m_process.folder() + QStringLiteral("/native");
}

QString PulseServer::serverAddress() const
{
    return QStringLiteral("unix:") + socketPath();
}

bool PulseServer::start()
{
    const QString folder = m_process.folder();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
    environment.insert(QStringLiteral("HOME"), folder);
    environment.remove(QStringLiteral("PULSE_SERVER"));
    QStringList arguments{
        QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
        QStringLiteral("--use-pid-file=no"), QStringLiteral("--disallow-exit"),
        QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socketPath(),
        QStringLiteral("--load=module-null-sink sink_name=silence"),
        QStringLiteral("--load=module-sine-source rate=48000 frequency=440 source_name=") + sourceName(),
    };
    if (m_desktopSource)
        arguments << QStringLiteral("--load=module-null-sink sink_name=out")
                  << QStringLiteral("--load=module-sine sink=out frequency=440");
    const QString lastSource = m_desktopSource ? desktopSourceName() : sourceName();
    if (!m_process.start(QStringLiteral("pulseaudio"), arguments, false, environment))
        return false;
    qputenv("PULSE_SERVER", serverAddress().toUtf8());
    if (!waitUntil(10000, [this, &lastSource] { return !m_process.isRunning() || sources().contains(lastSource); })
        || !m_process.isRunning()) {
        m_process.setErrorString(QStringLiteral("PulseAudio did not start: ") + m_process.output());
        m_process.stop();
        return false;
    }
    return true;
}

void PulseServer::stop()
{
    m_process.stop();
    qunsetenv("PULSE_SERVER");
}

std::optional<QByteArray> PulseServer::pactl(const QStringList &arguments) const
{
    if (!QFileInfo::exists(socketPath()))
        return std::nullopt;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), serverAddress());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(3000) || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

QStringList PulseServer::sources() const
{
    const std::optional<QByteArray> listing =
        pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")});
    QStringList names;
    const QList<QByteArray> lines = listing.value_or(QByteArray()).split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> columns = line.split('\t');
        if (columns.size() > 1)
            names << QString::fromUtf8(columns.at(1));
    }
    return names;
}

bool PulseServer::setDesktopSourceSuspended(bool suspended) const
{
    return pactl({QStringLiteral("suspend-sink"), QStringLiteral("out"),
                  suspended ? QStringLiteral("1") : QStringLiteral("0")})
        .has_value();
}

bool PulseServer::setDesktopToneMuted(bool muted) const
{
    // The tone is the server's one sink input.
    const std::optional<QByteArray> inputs =
        pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    const QByteArray input = inputs.value_or(QByteArray()).split('\t').constFirst().trimmed();
    return !input.isEmpty()
        && pactl({QStringLiteral("set-sink-input-mute"), QString::fromLatin1(input),
                  muted ? QStringLiteral("1") : QStringLiteral("0")})
               .has_value();
}
