// What the window costs on air. The same live PulseAudio device (a sine played
// into a null sink, captured from its monitor as a desktop device is) is
// streamed to the same private Icecast server at 44100 Hz and 128k twice, one
// after the other: by the whole program (the built TavolinEncoder, its window
// on Xvfb with Qt Quick's software renderer, started by its stored
// "Start stream when opening application") and by the engine alone (a Player
// and the log model in a bare process: this program started with --engine).
// For each it prints CPU seconds per audio minute on air, the CPU by thread,
// and the peak resident memory; then the ratio program / engine.

#include "engine/player.h"
#include "models/logsmodel.h"

#include "icecastserver.h"
#include "pulseserver.h"
#include "serverprocess.h"
#include "streamsettings.h"
#include "waituntil.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int onAirTimeoutMs = 20000;
constexpr int exitTimeoutMs = 10000;

// CPU seconds (user + system) of one process's threads, by thread name.
QMap<QString, double> threadCpuSeconds(qint64 pid)
{
    static const double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
    QMap<QString, double> byName;
    const QString taskFolder = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList tasks = QDir(taskFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile file(taskFolder + QLatin1Char('/') + task + QStringLiteral("/stat"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = file.readAll();
        // "pid (name) state ..." where the name may hold blanks: split after the last ')'.
        const int nameEnd = stat.lastIndexOf(')');
        const QString name = QString::fromUtf8(stat.mid(stat.indexOf('(') + 1, nameEnd - stat.indexOf('(') - 1));
        const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
        if (fields.size() > 12) // fields[11] utime, fields[12] stime, counted from the state
            byName[name] += (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticksPerSecond;
    }
    return byName;
}

double total(const QMap<QString, double> &byName)
{
    double sum = 0.0;
    for (const double seconds : byName)
        sum += seconds;
    return sum;
}

long peakMemoryKiB(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLong();
    }
    return 0;
}

struct Measurement
{
    QString name;
    bool onAir = false;
    double startupCpuSeconds = 0.0; // from the process start to the start of the measurement
    double wallSeconds = 0.0;
    QMap<QString, double> cpuByThread; // during the measurement
    long peakKiB = 0;
    int exitCode = -1; // -1: did not end by itself after SIGTERM

    double cpuPerAudioMinute() const { return total(cpuByThread) / (wallSeconds / 60.0); }
};

// Waits until the process streams to the mount, lets it settle, then measures
// it on air for seconds; ends it with SIGTERM.
Measurement measure(const QString &name, QProcess &process, const IcecastServer &icecast, const QString &mount,
                    int settleSeconds, int seconds)
{
    Measurement result;
    result.name = name;
    process.waitForStarted(exitTimeoutMs);
    const qint64 pid = process.processId();
    result.onAir = waitUntil(onAirTimeoutMs, [&] {
        return process.state() != QProcess::Running || !icecast.mountStatus(QLatin1Char('/') + mount).isEmpty();
    }) && process.state() == QProcess::Running;
    if (result.onAir) {
        QTest::qWait(settleSeconds * 1000);
        const QMap<QString, double> before = threadCpuSeconds(pid);
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(seconds * 1000);
        const QMap<QString, double> after = threadCpuSeconds(pid);
        result.wallSeconds = double(wall.nsecsElapsed()) / 1e9;
        result.peakKiB = peakMemoryKiB(pid);
        result.startupCpuSeconds = total(before);
        for (auto it = after.constBegin(); it != after.constEnd(); ++it)
            result.cpuByThread[it.key()] = it.value() - before.value(it.key());
        result.onAir = !icecast.mountStatus(QLatin1Char('/') + mount).isEmpty();
    }
    ::kill(pid_t(pid), SIGTERM);
    if (process.waitForFinished(exitTimeoutMs) && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(exitTimeoutMs);
    }
    return result;
}

void print(const Measurement &m)
{
    std::printf("%-8s on air %s, %.1f s measured after %.2f CPU s of start-up: %.3f CPU s per audio minute, "
                "peak %.1f MiB, exit code after SIGTERM %d\n",
                qPrintable(m.name), m.onAir ? "yes" : "NO", m.wallSeconds, m.startupCpuSeconds,
                m.cpuPerAudioMinute(), double(m.peakKiB) / 1024.0, m.exitCode);
    for (auto it = m.cpuByThread.constBegin(); it != m.cpuByThread.constEnd(); ++it) {
        if (it.value() > 0.0)
            std::printf("           thread %-18s %.3f CPU s per audio minute\n", qPrintable(it.key()),
                        it.value() / (m.wallSeconds / 60.0));
    }
}

// The bare engine: streams the settings map given as JSON until it is ended.
int runEngine(const QByteArray &settingsJson)
{
    LogsModel log; // FFmpeg's log goes through it, as in the program
    Player player;
    player.togglePlayPause(QJsonDocument::fromJson(settingsJson).toVariant().toMap());
    return QCoreApplication::exec();
}

void dropDebugMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
}

QString freeDisplay()
{
    int number = 99;
    while (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number))
           || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
        ++number;
    return QStringLiteral(":%1").arg(number);
}

bool writeProgramSettings(const QString &configHome, const IcecastServer &icecast, const QString &mount,
                          const QString &device)
{
    QDir().mkpath(configHome + QStringLiteral("/Tavolin"));
    QFile file(configHome + QStringLiteral("/Tavolin/TavolinEncoder.conf"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral("[General]\nstartStreamOnAppStart=true\nhostname=%1\nport=%2\nmount=%3\nuser=%4\n"
                              "password=%5\ndeviceIndex=%6\nbitrate=128k\nbitrateIndex=12\nsamplerate=44100\n"
                              "samplerateIndex=4\n")
                   .arg(icecast.host(), QString::number(icecast.port()), mount, icecast.sourceUser(),
                        icecast.sourcePassword(), device)
                   .toUtf8());
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("What the window costs on air, next to the engine alone."));
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Seconds on air measured per run (default 60)."),
                                           QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption settleOption(QStringLiteral("settle"),
                                          QStringLiteral("Seconds on air before measuring (default 5)."),
                                          QStringLiteral("seconds"), QStringLiteral("5"));
    const QCommandLineOption engineOption(QStringLiteral("engine"),
                                          QStringLiteral("Internal: stream a settings map as the bare engine."),
                                          QStringLiteral("json"));
    parser.addOptions({secondsOption, settleOption, engineOption});
    parser.process(app);
    if (parser.isSet(engineOption)) {
        qInstallMessageHandler(dropDebugMessages);
        return runEngine(parser.value(engineOption).toUtf8());
    }
    const int seconds = parser.value(secondsOption).toInt();
    const int settleSeconds = parser.value(settleOption).toInt();
    if (seconds < 1 || seconds > 3600 || settleSeconds < 0 || settleSeconds > 60) {
        std::fprintf(stderr, "windowbench: --seconds takes 1 to 3600, --settle 0 to 60\n");
        return 2;
    }

    IcecastServer icecast;
    PulseServer pulse;
    pulse.addDesktopSource();
    ServerProcess xvfb;
    const QString display = freeDisplay();
    if (!icecast.start() || !pulse.start()
        || !xvfb.start(QStringLiteral("Xvfb"),
                       {display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                       false)
        || !waitUntil(10000, [&] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X") + display.mid(1)); })) {
        std::fprintf(stderr, "windowbench: servers did not start: %s %s %s\n", qPrintable(icecast.errorString()),
                     qPrintable(pulse.errorString()), qPrintable(xvfb.errorString()));
        return 1;
    }
    std::printf("windowbench: %d s on air per run after %d s to settle; device %s, 44100 Hz, 128k\n", seconds,
                settleSeconds, qPrintable(pulse.desktopSourceName()));
    std::fflush(stdout);

    QProcess engine;
    engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    engine.setStandardOutputFile(QProcess::nullDevice());
    const QVariantMap engineSettings = streamSettings(icecast, pulse.desktopSourceName(), QStringLiteral("engine"));
    engine.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--engine"),
                  QString::fromUtf8(QJsonDocument::fromVariant(engineSettings).toJson(QJsonDocument::Compact))});
    const Measurement engineResult =
        measure(QStringLiteral("engine"), engine, icecast, QStringLiteral("engine"), settleSeconds, seconds);
    print(engineResult);
    std::fflush(stdout);

    QTemporaryDir configHome;
    QTemporaryDir runtimeDir;
    if (!writeProgramSettings(configHome.path(), icecast, QStringLiteral("program"), pulse.desktopSourceName()))
        return 1;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    program.setProcessEnvironment(environment);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(QStringLiteral(TAVOLIN_EXECUTABLE), QStringList());
    const Measurement programResult =
        measure(QStringLiteral("program"), program, icecast, QStringLiteral("program"), settleSeconds, seconds);
    print(programResult);

    const double ratio = programResult.cpuPerAudioMinute() / engineResult.cpuPerAudioMinute();
    std::printf("ratio program / engine, CPU per audio minute: %.2f (target at most 1.3)\n", ratio);
    std::printf("program peak resident memory: %.1f MiB (target at most 80)\n",
                double(programResult.peakKiB) / 1024.0);
    return engineResult.onAir && programResult.onAir && programResult.exitCode == 0 ? 0 : 1;
}
