// What the window costs on air. The same live PulseAudio device (a sine played
// into a null sink, captured from its monitor as a desktop device is) is
// streamed to the same private Icecast server at 44100 Hz and 128k, all at the
// same time: by the whole program (the built tavolin-encoder, its window on
// Xvfb, started by its stored "Start stream when opening application") three
// times: as a user starts it, with no renderer set ("default"), with
// QT_QUICK_BACKEND=software ("software") and with QT_QUICK_BACKEND set empty,
// Qt's OpenGL renderer ("opengl"); by the program without its window
// ("headless": --headless, no display at all); and by the engine alone (a
// Player and the log model in a bare process: this program started with
// --engine). All are measured over the same interval. For each it prints CPU
// seconds per audio minute on air, the CPU by thread, and the peak resident
// memory.

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
#include <memory>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

constexpr int onAirTimeoutMs = 20000;
constexpr int exitTimeoutMs = 10000;

// CPU seconds (user + system) and context switches (wake-ups) of each thread
// of a process, by thread id.
struct ThreadCpu
{
    QString name;
    double seconds = 0.0;
    long switches = 0;
};

long contextSwitches(const QString &taskFolder)
{
    QFile file(taskFolder + QStringLiteral("/status"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    long switches = 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
            switches += line.mid(line.indexOf(':') + 1).trimmed().toLong();
    }
    return switches;
}

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
                                      (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticksPerSecond,
                                      contextSwitches(taskFolder + QLatin1Char('/') + task)};
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
            during[it.key()] = {it.value().name, it.value().seconds - before.value(it.key()).seconds,
                                it.value().switches - before.value(it.key()).switches};
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
    QList<std::tuple<double, QString, QString>> threads;
    for (auto it = run.during.constBegin(); it != run.during.constEnd(); ++it) {
        const QString switches = QString::number(double(it.value().switches) / wallSeconds, 'f', 0);
        threads.append({it.value().seconds, QStringLiteral("%1 (%2)").arg(it.value().name).arg(it.key()), switches});
    }
    std::sort(threads.begin(), threads.end(), std::greater<>());
    for (const auto &[seconds, name, switches] : threads) {
        if (seconds > 0.0)
            std::printf("         thread %-24s %.3f, %s context switches/s\n", qPrintable(name), seconds / minutes,
                        qPrintable(switches));
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

// The program as a user on that display starts it: private settings and
// runtime folders, and no renderer or platform set unless the run names one.
struct ProgramFolders
{
    QTemporaryDir configHome;
    QTemporaryDir runtimeDir;
};

// display empty: the program without a window (--headless), and no display at all.
bool startProgram(Run &run, ProgramFolders &folders, const QString &program, const QString &display,
                  const IcecastServer &icecast, const QString &device, const QVariant &backend)
{
    if (!writeProgramSettings(folders.configHome.path(), icecast, run.mount, device))
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("QT_QUICK_BACKEND"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("DISPLAY"));
    if (backend.isValid())
        environment.insert(QStringLiteral("QT_QUICK_BACKEND"), backend.toString());
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folders.configHome.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folders.runtimeDir.path());
    run.process.setProcessEnvironment(environment);
    run.process.setStandardOutputFile(QProcess::nullDevice());
    run.process.setStandardErrorFile(QProcess::nullDevice());
    run.process.start(program, display.isEmpty() ? QStringList{QStringLiteral("--headless")} : QStringList());
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("What the window costs on air with each renderer, next to the engine alone."));
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
    const QCommandLineOption programOption(QStringLiteral("program"),
                                           QStringLiteral("The program to measure (default: the one built here)."),
                                           QStringLiteral("path"), QStringLiteral(TAVOLIN_EXECUTABLE));
    parser.addOptions({secondsOption, settleOption, engineOption, programOption});
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

    // All stream at once from the same device, so that they meet the same
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

    const QString program = parser.value(programOption);
    const QList<std::pair<QString, QVariant>> renderers = {
        {QStringLiteral("default"), QVariant()},
        {QStringLiteral("software"), QStringLiteral("software")},
        {QStringLiteral("opengl"), QString(QLatin1String(""))}, // set, but empty: Qt's own default
    };
    std::vector<std::unique_ptr<Run>> programs;
    std::vector<std::unique_ptr<ProgramFolders>> folders;
    for (const auto &[name, backend] : renderers) {
        programs.push_back(std::make_unique<Run>());
        folders.push_back(std::make_unique<ProgramFolders>());
        programs.back()->name = name;
        programs.back()->mount = name;
        if (!startProgram(*programs.back(), *folders.back(), program, display, icecast, pulse.desktopSourceName(),
                          backend))
            return 1;
    }
    // The same program without its window.
    programs.push_back(std::make_unique<Run>());
    folders.push_back(std::make_unique<ProgramFolders>());
    Run &headless = *programs.back();
    headless.name = QStringLiteral("headless");
    headless.mount = QStringLiteral("headless");
    if (!startProgram(headless, *folders.back(), program, QString(), icecast, pulse.desktopSourceName(), QVariant()))
        return 1;
    std::vector<Run *> runs = {&engine};
    for (const auto &run : programs)
        runs.push_back(run.get());

    const bool allOnAir = std::all_of(runs.begin(), runs.end(),
                                      [](Run *run) { return run->process.waitForStarted(exitTimeoutMs); })
        && waitUntil(onAirTimeoutMs, [&] {
               return std::all_of(runs.begin(), runs.end(), [&](Run *run) { return run->isOnAir(icecast); });
           });
    double wallSeconds = 0.0;
    if (allOnAir) {
        QTest::qWait(settleSeconds * 1000);
        for (Run *run : runs)
            run->startMeasuring();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(seconds * 1000);
        for (Run *run : runs)
            run->stopMeasuring();
        wallSeconds = double(wall.nsecsElapsed()) / 1e9;
        for (Run *run : runs)
            run->onAir = run->isOnAir(icecast);
    }
    for (Run *run : runs)
        run->terminate();
    if (!allOnAir) {
        std::fprintf(stderr, "windowbench: not all went on air within %d ms:", onAirTimeoutMs);
        for (Run *run : runs)
            std::fprintf(stderr, " %s %s", qPrintable(run->name), run->isOnAir(icecast) ? "on air" : "NOT on air");
        std::fprintf(stderr, "\n");
        return 1;
    }
    for (Run *run : runs)
        print(*run, wallSeconds);

    const Run &byDefault = *programs.at(0);
    const Run &openGL = *programs.at(2);
    std::printf("measured %.1f s on air; default / opengl, CPU per audio minute: %.2f (target at most 1)\n",
                wallSeconds, total(byDefault.during) / total(openGL.during));
    std::printf("default peak resident memory: %.1f MiB (target at most 64)\n", double(byDefault.peakKiB) / 1024.0);
    std::printf("headless peak resident memory: %.1f MiB (target at most 25); CPU per audio minute above the engine's: "
                "%.2f s (target at most 0.1)\n",
                double(headless.peakKiB) / 1024.0,
                (total(headless.during) - total(engine.during)) * 60.0 / wallSeconds);
    return std::all_of(runs.begin(), runs.end(),
                       [&](Run *run) { return run->onAir && (run == &engine || run->exitCode == 0); })
        ? 0
        : 1;
}
