#include "pulseserver.h"

#include <QFileInfo>

bool PulseServer::start()
{
    const QString folder = m_process.folder();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
    environment.insert(QStringLiteral("HOME"), folder);
    environment.remove(QStringLiteral("PULSE_SERVER"));
    QStringList arguments = words("--daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disallow-exit")
        << QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socketPath()
        << QStringLiteral("--load=module-null-sink sink_name=silence")
        << QStringLiteral("--load=module-sine-source rate=48000 frequency=440 source_name=") + sourceName();
    if (m_desktopSource)
        arguments << QStringLiteral("--load=module-null-sink sink_name=out")
                  << QStringLiteral("--load=module-sine sink=out frequency=440");
    const QString lastSource = m_desktopSource ? desktopSourceName() : sourceName();
    if (!m_process.start(QStringLiteral("pulseaudio"), arguments, false,
                         [&] { return sources().contains(lastSource); }, environment))
        return false;
    qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socketPath()));
    return true;
}

std::optional<QByteArray> PulseServer::pactl(const QStringList &arguments) const
{
    if (!QFileInfo::exists(socketPath()))
        return std::nullopt;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + socketPath());
    return runTool(QStringLiteral("pactl"), arguments, 3000, environment);
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
