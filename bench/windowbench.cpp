// What the window costs on air. The same live PulseAudio device (a sine played
// into a null sink, captured from its monitor as a desktop device is) is
// streamed to the same private Icecast server at 44100 Hz and 128k twice: by
// the whole program (the built TavolinEncoder, its window
// on Xvfb with Qt Quick's software renderer, started by its stored
// "Start stream when opening application") and by the engine alone (a Player
// and the log model in a bare process: this program started with --engine).
// Both stream at the same time and are measured over the same interval. For
// each it prints CPU seconds per audio minute on air, the CPU by thread, and
// the peak resident memory; then the ratio program / engine.

#include "engine/player.h"
#include "models/logsmodel.h"

#include "icecastserver.h"
#include "pulseserver.h"
#include "playerharness.h"

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

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int onAirTimeoutMs = 20000;
constexpr int exitTimeoutMs = 10000;

// CPU seconds (user + system) of each thread of a process, by thread id.
struct ThreadCpu
{
    QString name;
    double seconds = 0.0;
};

QMap<int, ThreadCpu> threadCpuSeconds(qint64 pid)
{
    static const double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
    QMap<int, ThreadCpu> byThread;
    const QString taskFolder = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList tasks = QDir(taskFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile file(taskFolder + QLatin1Char('/') + task + QStringLiteral("/stat"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = file.readAll();
        // "tid (name) state ..." where the name may hold blanks: split after the last ')'.
        const int nameStart = stat.indexOf('(') + 1;
        const int nameEnd = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
        if (fields.size() > 12) // counted from the state: [11] utime, [12] stime
            byThread[task.toInt()] = {QString::fromUtf8(stat.mid(nameStart, nameEnd - nameStart)),
                                      (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticksPerSecond};
    }
    return byThread;
}

double total(const QMap<int, ThreadCpu> &byThread)
{
    double sum = 0.0;
    for (const ThreadCpu &thread : byThread)
        sum += thread.seconds;
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

// One streaming process, measured over the same interval as the other.
struct Run
{
    QString name;
    QString mount;
    QProcess process;
    bool onAir = false;
    QMap<int, ThreadCpu> before;
    QMap<int, ThreadCpu> during; // CPU seconds spent in the measured interval
    double startupCpuSeconds = 0.0; // from the process start to the start of the measurement
    long peakKiB = 0;
    int exitCode = -1; // -1: killed, or did not end by itself after SIGTERM

    bool isOnAir(const IcecastServer &icecast) const
    {
        return process.state() == QProcess::Running
            && !icecast.mountStatus(QLatin1Char('/') + mount).isEmpty();
    }
    void startMeasuring()
    {
        before = threadCpuSeconds(process.processId());
        startupCpuSeconds = total(before);
    }
    void stopMeasuring()
    {
        const QMap<int, ThreadCpu> after = threadCpuSeconds(process.processId());
        for (auto it = after.constBegin(); it != after.constEnd(); ++it)
            during[it.key()] = {it.value().name, it.value().seconds - before.value(it.key()).seconds};
        peakKiB = peakMemoryKiB(process.processId());
    }
    void terminate()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), SIGTERM);
        if (process.waitForFinished(exitTimeoutMs) && process.exitStatus() == QProcess::NormalExit)
            exitCode = process.exitCode();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(exitTimeoutMs);
        }
    }
};

void print(const Run &run, double wallSeconds)
{
    const double minutes = wallSeconds / 60.0;
    std::printf("%-8s on air %s: %.3f CPU s per audio minute, peak %.1f MiB, start-up %.2f CPU s, "
                "exit code after SIGTERM %d\n",
                qPrintable(run.name), run.onAir ? "yes" : "NO", total(run.during) / minutes,
                double(run.peakKiB) / 1024.0, run.startupCpuSeconds, run.exitCode);
    QList<std::pair<double, QString>> threads;
    for (auto it = run.during.constBegin(); it != run.during.constEnd(); ++it)
        threads.append({it.value().seconds, QStringLiteral("%1 (%2)").arg(it.value().name).arg(it.key())});
    std::sort(threads.begin(), threads.end(), std::greater<>());
    for (const auto &[seconds, name] : threads) {
        if (seconds > 0.0)
            std::printf("         thread %-24s %.3f\n", qPrintable(name), seconds / minutes);
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
                       false, [&] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X") + display.mid(1)); })) {
        std::fprintf(stderr, "windowbench: servers did not start: %s %s %s\n", qPrintable(icecast.errorString()),
                     qPrintable(pulse.errorString()), qPrintable(xvfb.errorString()));
        return 1;
    }
    std::printf("windowbench: %d s on air per run after %d s to settle; device %s, 44100 Hz, 128k\n", seconds,
                settleSeconds, qPrintable(pulse.desktopSourceName()));
    std::fflush(stdout);

    // Both stream at once from the same device, so that they meet the same
    // load from the rest of the machine.
    Run engine;
    engine.name = QStringLiteral("engine");
    engine.mount = QStringLiteral("engine");
    engine.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    engine.process.setStandardOutputFile(QProcess::nullDevice());
    const QVariantMap engineSettings = streamSettings(icecast, pulse.desktopSourceName(), engine.mount);
    engine.process.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--engine"), QString::fromUtf8(QJsonDocument::fromVariant(engineSettings)
                                                                            .toJson(QJsonDocument::Compact))});

    Run program;
    program.name = QStringLiteral("program");
    program.mount = QStringLiteral("program");
    QTemporaryDir configHome;
    QTemporaryDir runtimeDir;
    if (!writeProgramSettings(configHome.path(), icecast, program.mount, pulse.desktopSourceName()))
        return 1;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    program.process.setProcessEnvironment(environment);
    program.process.setStandardOutputFile(QProcess::nullDevice());
    program.process.setStandardErrorFile(QProcess::nullDevice());
    program.process.start(QStringLiteral(TAVOLIN_EXECUTABLE), QStringList());

    const bool bothOnAir = engine.process.waitForStarted(exitTimeoutMs) && program.process.waitForStarted(exitTimeoutMs)
        && waitUntil(onAirTimeoutMs, [&] { return engine.isOnAir(icecast) && program.isOnAir(icecast); });
    double wallSeconds = 0.0;
    if (bothOnAir) {
        QTest::qWait(settleSeconds * 1000);
        engine.startMeasuring();
        program.startMeasuring();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(seconds * 1000);
        engine.stopMeasuring();
        program.stopMeasuring();
        wallSeconds = double(wall.nsecsElapsed()) / 1e9;
        engine.onAir = engine.isOnAir(icecast);
        program.onAir = program.isOnAir(icecast);
    }
    engine.terminate();
    program.terminate();
    if (!bothOnAir) {
        std::fprintf(stderr, "windowbench: the two did not both go on air within %d ms\n", onAirTimeoutMs);
        return 1;
    }
    print(engine, wallSeconds);
    print(program, wallSeconds);

    const double ratio = total(program.during) / total(engine.during);
    std::printf("measured %.1f s on air; ratio program / engine, CPU per audio minute: %.2f (target at most 1.3)\n",
                wallSeconds, ratio);
    std::printf("program peak resident memory: %.1f MiB (target at most 80)\n", double(program.peakKiB) / 1024.0);
    return engine.onAir && program.onAir && program.exitCode == 0 ? 0 : 1;
}
