// What streaming costs the engine in CPU time and memory, next to the ffmpeg
// command line doing the same work: the same lavfi sine (or live PulseAudio
// device), filter graph, MP3 encoder and bit rate, sent to the same private
// Icecast server on 127.0.0.1.

#include "engine/icecasturl.h"
#include "engine/player.h"
#include "models/logsmodel.h"

#include "icecastserver.h"
#include "pulseserver.h"
#include "playerharness.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

constexpr int sampleRate = 44100;
const char bitrate[] = "128k";
// The graph the engine builds for 44100 Hz stereo libmp3lame (s32p, 1152-sample frames).
const char engineGraph[] = "aformat=sample_fmts=s32p:channel_layouts=stereo,"
                           "astats=metadata=true:reset=10:measure_perchannel=RMS_level:measure_overall=none,"
                           "aresample=44100,asetnsamples=nb_out_samples=1152,asetpts=PTS-STARTPTS";
// Allowed beyond the audio's own length: connecting, and a busy machine.
constexpr int timeoutMarginMs = 30000;

// Where a run's audio comes from: a lavfi source that ends by itself, or a
// live capture device that the run stops after its seconds.
struct Capture
{
    QString format;
    QString source;
    bool live = false;
};

struct Result
{
    QString name;
    bool completed = false;
    int audioSeconds = 0;
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0;
    long peakKiB = 0;
    long changes = -1; // dataChanged emissions; none for the command line
};

Capture sineSource(int seconds, bool paced)
{
    const QString sine = QStringLiteral("sine=frequency=1000:sample_rate=48000:duration=%1").arg(seconds);
    return {QStringLiteral("lavfi"), paced ? sine + QStringLiteral(",arealtime") : sine};
}

double cpuSeconds(const rusage &usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

// Restarts VmHWM from the current size, so that each run shows its own peak.
void resetPeakMemory()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

// VmHWM of a process ("self" or a pid).
long peakMemoryKiB(const QString &process)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(process));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLong();
    }
    return 0;
}

// The log model echoes every line it receives with qDebug.
void dropDebugMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
}

Result runEngine(const QString &name, const IcecastServer &icecast, const Capture &capture, int seconds)
{
    Result result{name};
    result.audioSeconds = seconds;
    std::atomic<long> changes{0};
    resetPeakMemory();
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    {
        Player player;
        player.setCaptureBackend({capture.format, QString()});
        // Emitted with the Player's mutex held, often on the job thread: only counted.
        QObject::connect(&player, &Player::dataChanged, &player, [&changes] { ++changes; },
                         Qt::DirectConnection);
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        const QVariantMap settings =
            streamSettings(icecast, capture.source, name, sampleRate, QString::fromLatin1(bitrate));
        QTimer stop;
        stop.setSingleShot(true);
        QObject::connect(&stop, &QTimer::timeout, &player, [&] { player.togglePlayPause(settings); });
        QObject::connect(&player, &Player::hasShutdown, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        timeout.start(seconds * 1000 + timeoutMarginMs);
        player.togglePlayPause(settings);
        if (capture.live)
            stop.start(seconds * 1000);
        loop.exec();
        // A run that ended Off read its source to the end, or a live one until its stop.
        result.completed = timeout.isActive() && player.status() == Off && !stop.isActive();
        if (!result.completed) {
            std::fprintf(stderr, "%s: did not run to the end: %s\n", qUtf8Printable(name),
                         qUtf8Printable(player.errorText()));
            player.shutdown();
        }
    } // The Player's destructor waits for its job thread.
    result.wallSeconds = double(wall.elapsed()) / 1000.0;
    result.cpuSeconds = processCpuSeconds() - cpuBefore;
    result.peakKiB = peakMemoryKiB(QStringLiteral("self"));
    result.changes = changes;
    return result;
}

Result runFfmpeg(const QString &name, const IcecastServer &icecast, const Capture &capture, int seconds)
{
    const QString url =
        icecastUrl(icecast.sourceUser(), icecast.sourcePassword(), icecast.host(), icecast.port(), name);
    QList<QByteArray> arguments{"ffmpeg", "-hide_banner", "-nostats", "-nostdin", "-loglevel", "error",
                                "-f", capture.format.toUtf8(), "-i", capture.source.toUtf8(), "-af", engineGraph,
                                "-c:a", "libmp3lame", "-b:a", bitrate, "-content_type", "audio/mpeg"};
    if (capture.live)
        arguments << "-t" << QByteArray::number(seconds);
    arguments << "-f" << "mp3" << url.toUtf8();
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);

    Result result{name};
    result.audioSeconds = seconds;
    QElapsedTimer wall;
    wall.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "%s: could not start ffmpeg\n", qUtf8Printable(name));
        return result;
    }
    // wait4 reports this child's own CPU time, apart from the Icecast server's.
    // Its ru_maxrss is no use: exec records the spawning process's peak there.
    // The child's VmHWM is read while it runs instead; it peaks early, in set-up.
    int status = 0;
    rusage usage{};
    const QDeadlineTimer deadline(seconds * 1000 + timeoutMarginMs);
    pid_t ended = 0;
    while ((ended = wait4(pid, &status, WNOHANG, &usage)) == 0 && !deadline.hasExpired()) {
        result.peakKiB = std::max(result.peakKiB, peakMemoryKiB(QString::number(pid)));
        QThread::msleep(10);
    }
    const bool timedOut = ended == 0;
    if (timedOut) {
        kill(pid, SIGKILL);
        ended = wait4(pid, &status, 0, &usage);
    }
    result.wallSeconds = double(wall.elapsed()) / 1000.0;
    result.completed = !timedOut && ended == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!result.completed)
        std::fprintf(stderr, "%s: ffmpeg failed or timed out\n", qUtf8Printable(name));
    result.cpuSeconds = cpuSeconds(usage);
    return result;
}

double cpuPerAudioMinute(const Result &result)
{
    return result.cpuSeconds * 60.0 / result.audioSeconds;
}

void printResult(const Result &result)
{
    std::printf("%-16s %7d %8.2f %8.3f %12.3f %9.1f", qUtf8Printable(result.name), result.audioSeconds,
                result.wallSeconds, result.cpuSeconds, cpuPerAudioMinute(result), double(result.peakKiB) / 1024.0);
    if (result.changes >= 0)
        std::printf(" %10.1f %10.1f", double(result.changes) / result.audioSeconds,
                    double(result.changes) / result.wallSeconds);
    std::printf("%s\n", result.completed ? "" : "  (incomplete)");
}

void printRatio(const Result &engine, const Result &ffmpeg)
{
    std::printf("%s / %s CPU per audio minute: %.2f\n", qUtf8Printable(engine.name), qUtf8Printable(ffmpeg.name),
                cpuPerAudioMinute(engine) / cpuPerAudioMinute(ffmpeg));
}

bool readSeconds(const QCommandLineParser &parser, const QCommandLineOption &option, int &seconds)
{
    bool ok = false;
    seconds = parser.value(option).toInt(&ok);
    if (ok && seconds >= 1 && seconds <= 3600)
        return true;
    std::fprintf(stderr, "--%s takes whole seconds from 1 to 3600\n", qUtf8Printable(option.names().constFirst()));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Streams a sine tone, and a live PulseAudio device, through the engine and through the ffmpeg "
        "command line to a private Icecast server on 127.0.0.1, and prints the CPU time and peak memory "
        "of each."));
    parser.addHelpOption();
    const QCommandLineOption unpacedOption(QStringLiteral("unpaced"),
                                           QStringLiteral("Seconds of audio generated as fast as possible (60)."),
                                           QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption pacedOption(QStringLiteral("paced"),
                                         QStringLiteral("Seconds of audio paced like a capture device (20)."),
                                         QStringLiteral("seconds"), QStringLiteral("20"));
    const QCommandLineOption liveOption(QStringLiteral("live"),
                                        QStringLiteral("Seconds of audio from a live PulseAudio device (20)."),
                                        QStringLiteral("seconds"), QStringLiteral("20"));
    parser.addOptions({unpacedOption, pacedOption, liveOption});
    parser.process(app);
    int unpacedSeconds = 0;
    int pacedSeconds = 0;
    int liveSeconds = 0;
    if (!readSeconds(parser, unpacedOption, unpacedSeconds) || !readSeconds(parser, pacedOption, pacedSeconds)
        || !readSeconds(parser, liveOption, liveSeconds))
        return 2;

    qInstallMessageHandler(dropDebugMessages);
    // Captures FFmpeg's log as the application does.
    LogsModel log;
    IcecastServer icecast;
    if (!icecast.start()) {
        std::fprintf(stderr, "Icecast: %s\n", qUtf8Printable(icecast.errorString()));
        return 1;
    }
    // Both sides find it through PULSE_SERVER, which start() sets.
    PulseServer pulse;
    pulse.addDesktopSource();
    if (!pulse.start()) {
        std::fprintf(stderr, "PulseAudio: %s\n", qUtf8Printable(pulse.errorString()));
        return 1;
    }

    const Capture unpaced = sineSource(unpacedSeconds, false);
    const Capture paced = sineSource(pacedSeconds, true);
    const Capture live{QStringLiteral("pulse"), pulse.desktopSourceName(), true};
    const Result engineUnpaced = runEngine(QStringLiteral("engine-unpaced"), icecast, unpaced, unpacedSeconds);
    const Result ffmpegUnpaced = runFfmpeg(QStringLiteral("ffmpeg-unpaced"), icecast, unpaced, unpacedSeconds);
    const Result enginePaced = runEngine(QStringLiteral("engine-paced"), icecast, paced, pacedSeconds);
    const Result ffmpegPaced = runFfmpeg(QStringLiteral("ffmpeg-paced"), icecast, paced, pacedSeconds);
    const Result engineLive = runEngine(QStringLiteral("engine-live"), icecast, live, liveSeconds);
    const Result ffmpegLive = runFfmpeg(QStringLiteral("ffmpeg-live"), icecast, live, liveSeconds);
    pulse.stop();
    icecast.stop();

    std::printf("%-16s %7s %8s %8s %12s %9s %10s %10s\n", "run", "audio s", "wall s", "CPU s", "CPU s/aud min",
                "peak MiB", "chg/aud s", "chg/wall s");
    for (const Result &result : {engineUnpaced, ffmpegUnpaced, enginePaced, ffmpegPaced, engineLive, ffmpegLive})
        printResult(result);
    printRatio(engineUnpaced, ffmpegUnpaced);
    printRatio(enginePaced, ffmpegPaced);
    printRatio(engineLive, ffmpegLive);

    const bool completed = engineUnpaced.completed && ffmpegUnpaced.completed && enginePaced.completed
        && ffmpegPaced.completed && engineLive.completed && ffmpegLive.completed;
    return completed ? 0 : 1;
}
