// What streaming costs the engine in CPU time, wake-ups and memory, next to
// the ffmpeg command line doing the same work (the same lavfi sine or live
// PulseAudio device, filter graph, MP3 encoder and bit rate, sent to the same
// private Icecast server on 127.0.0.1), and next to LAME alone encoding the
// same audio minute at the same settings; the live device streamed in
// each codec next to that codec's encoder alone; and several streams of one
// run next to one stream and to their encoders alone.

#include "engine/codec.h"
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
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <lame/lame.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
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

// One stream of a run as the window stores it; Opus encodes at 48000 Hz
// whatever the rate.
struct StreamFormat
{
    QString codec;
    QString bitrate;
};
const StreamFormat mp3At128k{QStringLiteral("MP3"), QString::fromLatin1(bitrate)};

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
    double userSeconds = 0.0;
    double systemSeconds = 0.0;
    long voluntarySwitches = 0;
    long involuntarySwitches = 0;
    long peakKiB = 0;
    long changes = -1; // dataChanged notifications the main thread received; engine only
    qint64 onAirMs = -1; // from play to On Air; engine only
};

// What the window reads of the Player on each change notification.
class WindowReader : public QObject
{
public:
    explicit WindowReader(const Player &player)
        : m_player(player)
    {
        connect(&player, &Player::dataChanged, this, &WindowReader::read, Qt::QueuedConnection);
    }

    long changes = 0;
    qint64 onAirMs = -1;
    // Whether each stream has been seen on the air.
    QVector<bool> streamsOnAir;
    QElapsedTimer sincePlay;

private:
    void read()
    {
        ++changes;
        const QVariantList row{m_player.song(),       m_player.errorText(),  m_player.progressText(),
                               m_player.elapsed(),    m_player.status(),     m_player.leftVolume(),
                               m_player.rightVolume(), m_player.isPlaying()};
        if (onAirMs < 0 && row.at(4).toInt() == OnAir)
            onAirMs = sincePlay.elapsed();
        // The window's list of streams shows each one's state.
        const std::vector<StreamState> states = m_player.streamStates();
        streamsOnAir.resize(int(states.size()));
        for (int stream = 0; stream < int(states.size()); ++stream)
            streamsOnAir[stream] = streamsOnAir.at(stream) || states.at(size_t(stream)).status == OnAir;
    }

    const Player &m_player;
};

Capture sineSource(int seconds, bool paced)
{
    const QString sine = QStringLiteral("sine=frequency=1000:sample_rate=48000:duration=%1").arg(seconds);
    return {QStringLiteral("lavfi"), paced ? sine + QStringLiteral(",arealtime") : sine};
}

double seconds(const timeval &time)
{
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

// The CPU time and context switches of usage, less those of before.
void setUsage(Result &result, const rusage &usage, const rusage &before = rusage{})
{
    result.userSeconds = seconds(usage.ru_utime) - seconds(before.ru_utime);
    result.systemSeconds = seconds(usage.ru_stime) - seconds(before.ru_stime);
    result.voluntarySwitches = usage.ru_nvcsw - before.ru_nvcsw;
    result.involuntarySwitches = usage.ru_nivcsw - before.ru_nivcsw;
}

rusage usageOf(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage;
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

// The engine driven as the window drives it: every change notification is
// queued to this thread, which reads what the window shows. recordFolder:
// where the engine records its runs; empty, it does not record. formats: the
// run's streams, the first to the mount of the run's name, each further one
// to that name with "-2", "-3", ...
Result runEngine(const QString &name, const IcecastServer &icecast, const Capture &capture, int seconds,
                 const QString &recordFolder, const QList<StreamFormat> &formats = {mp3At128k})
{
    Result result{name};
    result.audioSeconds = seconds;
    resetPeakMemory();
    const rusage before = usageOf(RUSAGE_SELF);
    QElapsedTimer wall;
    wall.start();
    {
        Player player;
        player.setCaptureBackend({capture.format, QString()});
        WindowReader reader(player);
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QVariantMap settings;
        QVariantList furtherStreams;
        for (int index = 0; index < formats.size(); ++index) {
            const QString mount = index == 0 ? name : QStringLiteral("%1-%2").arg(name).arg(index + 1);
            QVariantMap stream = streamSettings(icecast, capture.source, mount, sampleRate, formats.at(index).bitrate,
                                                formats.at(index).codec);
            // Several streams: the log names each by its mount.
            if (formats.size() > 1)
                stream = withStream(stream, {{QStringLiteral("name"), mount}});
            if (index == 0)
                settings = stream;
            else
                furtherStreams << stream.value(QStringLiteral("stream"));
        }
        settings = withStream(settings, {{QStringLiteral("record"), !recordFolder.isEmpty()},
                                         {QStringLiteral("recordFolder"), recordFolder}});
        if (!furtherStreams.isEmpty())
            settings.insert(QStringLiteral("streams"), furtherStreams);
        QTimer stop;
        stop.setSingleShot(true);
        QObject::connect(&stop, &QTimer::timeout, &player, [&] { player.togglePlayPause(settings); });
        QObject::connect(&player, &Player::hasShutdown, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        timeout.start(seconds * 1000 + timeoutMarginMs);
        reader.sincePlay.start();
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
        // The notifications still queued are part of the run's cost.
        QCoreApplication::processEvents();
        // With several streams the run stays up while one of them fails: each
        // must have been on the air (a live run lasts long enough to be seen
        // there) and none may have ended in an error.
        const std::vector<StreamState> states = player.streamStates();
        for (int stream = 0; stream < int(states.size()); ++stream) {
            const bool seenOnAir = stream < reader.streamsOnAir.size() && reader.streamsOnAir.at(stream);
            const StreamState &state = states.at(size_t(stream));
            if (state.status == Error || (capture.live && !seenOnAir)) {
                std::fprintf(stderr, "%s: stream %d %s: %s\n", qUtf8Printable(name), stream + 1,
                             seenOnAir ? "failed" : "was never on the air", qUtf8Printable(state.text));
                result.completed = false;
            }
        }
        result.changes = reader.changes;
        result.onAirMs = reader.onAirMs;
    } // The Player's destructor waits for its job thread.
    result.wallSeconds = double(wall.elapsed()) / 1000.0;
    setUsage(result, usageOf(RUSAGE_SELF), before);
    result.peakKiB = peakMemoryKiB(QStringLiteral("self"));
    return result;
}

// LAME alone, through its own library on this thread: the audio of the
// desktop device (a 440 Hz sine at half scale, 16-bit, 44100 Hz stereo),
// handed over as the engine's encoder gets it (32-bit planar, frames of 1152
// samples), with the settings that FFmpeg's libmp3lame encoder gives LAME for
// 128k (joint stereo, constant bit rate, bit reservoir, no VBR tag). The
// encoded bytes are counted and dropped.
Result runLame(const QString &name, int seconds)
{
    constexpr int frameSize = 1152;
    Result result{name};
    result.audioSeconds = seconds;
    // 440 whole periods a second: one second of samples repeats exactly.
    std::vector<int> second(sampleRate);
    for (int i = 0; i < sampleRate; ++i)
        second[i] = int(std::lround(16383.5 * std::sin(2.0 * M_PI * 440.0 * i / sampleRate))) * 65536;
    std::vector<int> left(frameSize);
    std::vector<int> right(frameSize);
    std::vector<unsigned char> encoded(frameSize * 5 / 4 + 7200);
    long encodedBytes = 0;

    const rusage before = usageOf(RUSAGE_THREAD);
    QElapsedTimer wall;
    wall.start();
    lame_global_flags *lame = lame_init();
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_in_samplerate(lame, sampleRate);
    lame_set_out_samplerate(lame, sampleRate);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, 128);
    lame_set_bWriteVbrTag(lame, 0);
    lame_set_disable_reservoir(lame, 0);
    int written = lame_init_params(lame);
    const long samples = long(seconds) * sampleRate;
    for (long done = 0; written >= 0 && done < samples; done += frameSize) {
        const int count = int(std::min<long>(frameSize, samples - done));
        for (int i = 0; i < count; ++i)
            left[i] = right[i] = second[(done + i) % sampleRate];
        written = lame_encode_buffer_int(lame, left.data(), right.data(), count, encoded.data(), int(encoded.size()));
        encodedBytes += std::max(written, 0);
    }
    if (written >= 0)
        written = lame_encode_flush(lame, encoded.data(), int(encoded.size()));
    lame_close(lame);
    result.wallSeconds = double(wall.elapsed()) / 1000.0;
    setUsage(result, usageOf(RUSAGE_THREAD), before);
    // Constant 128 kbit/s: within a frame of the audio's length.
    result.completed = written >= 0 && std::abs(encodedBytes + written - 16000L * seconds) < 1000;
    if (!result.completed)
        std::fprintf(stderr, "%s: LAME failed or gave %ld bytes\n", qUtf8Printable(name), encodedBytes);
    return result;
}

// One sample of the tone into a frame of any of the encoders' sample formats.
void setSample(AVFrame *frame, int channel, int index, int value16)
{
    const auto format = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    uint8_t *data = frame->data[planar ? channel : 0];
    const int position = planar ? index : index * frame->ch_layout.nb_channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_S16:
        reinterpret_cast<int16_t *>(data)[position] = int16_t(value16);
        break;
    case AV_SAMPLE_FMT_S32:
        reinterpret_cast<int32_t *>(data)[position] = value16 * 65536;
        break;
    default:
        reinterpret_cast<float *>(data)[position] = float(value16) / 32768.0f;
        break;
    }
}

// A codec's encoder alone, through libavcodec on this thread, as runLame
// feeds LAME: the desktop device's tone in the sample format, rate and frame
// size that the engine gives that encoder, at the bit rate the engine would
// be given ("128k"). The packets are counted and dropped; CPU time of this
// thread only.
Result runEncoderAlone(const QString &name, const Codec &codec, const QString &chosenBitrate, int seconds)
{
    Result result{name};
    result.audioSeconds = seconds;
    const AVCodec *encoder = avcodec_find_encoder_by_name(codec.encoderName);
    AVCodecContext *context = encoder ? avcodec_alloc_context3(encoder) : nullptr;
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    if (!context || !frame || !packet)
        return result;
    const int rate = codec.fixedSampleRate ? codec.fixedSampleRate : sampleRate;
    av_channel_layout_default(&context->ch_layout, 2);
    context->sample_rate = rate;
    context->sample_fmt = codec.sampleFormat ? av_get_sample_fmt(codec.sampleFormat) : encoder->sample_fmts[0];
    context->time_base = AVRational{1, rate};
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // As the engine sets it: the text the user chose.
    AVDictionary *options = nullptr;
    if (codec.takesBitrate)
        av_dict_set(&options, "b", chosenBitrate.toUtf8().constData(), 0);
    long encodedBytes = 0;
    const rusage before = usageOf(RUSAGE_THREAD);
    QElapsedTimer wall;
    wall.start();
    int status = avcodec_open2(context, encoder, &options);
    av_dict_free(&options);
    frame->nb_samples = context->frame_size;
    frame->format = context->sample_fmt;
    if (status >= 0)
        status = av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
    if (status >= 0)
        status = av_frame_get_buffer(frame, 0);
    const long samples = long(seconds) * rate;
    for (long done = 0; status >= 0 && done <= samples; done += frame->nb_samples) {
        const bool last = done == samples;
        if (!last) {
            status = av_frame_make_writable(frame);
            frame->nb_samples = int(std::min<long>(context->frame_size, samples - done));
            for (int i = 0; status >= 0 && i < frame->nb_samples; ++i) {
                const int value = int(std::lround(16383.5 * std::sin(2.0 * M_PI * 440.0 * double(done + i) / rate)));
                setSample(frame, 0, i, value);
                setSample(frame, 1, i, value);
            }
            frame->pts = done;
        }
        if (status >= 0)
            status = avcodec_send_frame(context, last ? nullptr : frame);
        while (status >= 0 && (status = avcodec_receive_packet(context, packet)) >= 0) {
            encodedBytes += packet->size;
            av_packet_unref(packet);
        }
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            status = 0;
        if (last)
            break;
    }
    result.wallSeconds = double(wall.elapsed()) / 1000.0;
    setUsage(result, usageOf(RUSAGE_THREAD), before);
    result.completed = status >= 0 && encodedBytes > 0;
    if (!result.completed)
        std::fprintf(stderr, "%s: the encoder failed after %ld bytes\n", qUtf8Printable(name), encodedBytes);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return result;
}

// Runs the ffmpeg command line with arguments, for seconds of audio.
Result runFfmpegCommand(const QString &name, QList<QByteArray> arguments, int seconds)
{
    arguments = QList<QByteArray>{"ffmpeg", "-hide_banner", "-nostats", "-nostdin", "-loglevel", "error", "-y"}
        + arguments;
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
    setUsage(result, usage);
    return result;
}

Result runFfmpeg(const QString &name, const IcecastServer &icecast, const Capture &capture, int seconds)
{
    const QString url =
        icecastUrl(icecast.sourceUser(), icecast.sourcePassword(), icecast.host(), icecast.port(), name);
    QList<QByteArray> arguments{"-f", capture.format.toUtf8(), "-i", capture.source.toUtf8(), "-af", engineGraph,
                                "-c:a", "libmp3lame", "-b:a", bitrate, "-content_type", "audio/mpeg"};
    if (capture.live)
        arguments << "-t" << QByteArray::number(seconds);
    arguments << "-f" << "mp3" << url.toUtf8();
    return runFfmpegCommand(name, arguments, seconds);
}

// LAME through ffmpeg's libmp3lame on a file, start-up included: the same
// tone (lavfi's sine is at 1/8 of full scale), made into a WAV file
// beforehand, encoded at the same settings.
Result runLameOnFile(const QString &name, const QString &folder, int seconds)
{
    const QByteArray tone = (folder + QStringLiteral("/tone.wav")).toUtf8();
    const QByteArray encoded = (folder + QStringLiteral("/tone.mp3")).toUtf8();
    const QByteArray sine = "sine=frequency=440:sample_rate=44100:duration=" + QByteArray::number(seconds);
    const Result made = runFfmpegCommand(name, {"-f", "lavfi", "-i", sine, "-af",
                                                "volume=4,pan=stereo|c0=c0|c1=c0", "-c:a", "pcm_s16le", tone},
                                         seconds);
    if (!made.completed)
        return made;
    return runFfmpegCommand(name, {"-i", tone, "-c:a", "libmp3lame", "-b:a", bitrate, "-f", "mp3", encoded}, seconds);
}

double cpuPerAudioMinute(const Result &result)
{
    return (result.userSeconds + result.systemSeconds) * 60.0 / result.audioSeconds;
}

void printResult(const Result &result)
{
    std::printf("%-20s %7d %8.2f %7.3f %7.3f %12.3f %9.1f %9.1f %9.1f", qUtf8Printable(result.name),
                result.audioSeconds, result.wallSeconds, result.userSeconds, result.systemSeconds,
                cpuPerAudioMinute(result), double(result.voluntarySwitches) / result.wallSeconds,
                double(result.involuntarySwitches) / result.wallSeconds, double(result.peakKiB) / 1024.0);
    if (result.changes >= 0)
        std::printf(" %9.1f %8lld", double(result.changes) / result.audioSeconds, result.onAirMs);
    std::printf("%s\n", result.completed ? "" : "  (incomplete)");
}

// target: what the ratio should stay at or under; 0 for none.
void printRatio(const Result &engine, const Result &other, double target = 0.0)
{
    std::printf("%s / %s CPU per audio minute: %.2f", qUtf8Printable(engine.name), qUtf8Printable(other.name),
                cpuPerAudioMinute(engine) / cpuPerAudioMinute(other));
    if (target > 0.0)
        std::printf(" (target at most %.2f)", target);
    std::printf("\n");
}

// The runs of several streams, in the order main() makes them.
struct StreamsRuns
{
    Result one;
    Result twoOfOneFormat;
    Result threeFormats;
    Result mp3Alone;
    Result aacAlone;
    Result opusAlone;
};

// Two streams of one format against one; three formats against their
// encoders alone plus what one stream costs above its encoder; the peak
// memory each added stream brings.
void printStreamsFigures(const StreamsRuns &runs)
{
    printRatio(runs.twoOfOneFormat, runs.one, 1.10);
    const double overhead = cpuPerAudioMinute(runs.one) - cpuPerAudioMinute(runs.mp3Alone);
    const double expected = cpuPerAudioMinute(runs.mp3Alone) + cpuPerAudioMinute(runs.aacAlone)
        + cpuPerAudioMinute(runs.opusAlone) + overhead;
    std::printf("%s / (%s + %s + %s + %s's overhead %.3f = %.3f) CPU per audio minute: %.2f (target at most 1.00)\n",
                qUtf8Printable(runs.threeFormats.name), qUtf8Printable(runs.mp3Alone.name),
                qUtf8Printable(runs.aacAlone.name), qUtf8Printable(runs.opusAlone.name), qUtf8Printable(runs.one.name),
                overhead, expected, cpuPerAudioMinute(runs.threeFormats) / expected);
    const auto growthMiB = [&runs](const Result &several, int added) {
        return double(several.peakKiB - runs.one.peakKiB) / 1024.0 / added;
    };
    std::printf("peak memory per added stream: %s %.1f MiB, %s %.1f MiB (target at most 3.0)\n",
                qUtf8Printable(runs.twoOfOneFormat.name), growthMiB(runs.twoOfOneFormat, 1),
                qUtf8Printable(runs.threeFormats.name), growthMiB(runs.threeFormats, 2));
}

// 0 leaves the runs of that kind out.
bool readSeconds(const QCommandLineParser &parser, const QCommandLineOption &option, int &seconds)
{
    bool ok = false;
    seconds = parser.value(option).toInt(&ok);
    if (ok && seconds >= 0 && seconds <= 3600)
        return true;
    std::fprintf(stderr, "--%s takes whole seconds from 0 to 3600\n", qUtf8Printable(option.names().constFirst()));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Streams a sine tone, and a live PulseAudio device, through the engine and through the ffmpeg "
        "command line to a private Icecast server on 127.0.0.1, encodes as much audio with LAME alone, "
        "streams the live device as one, two and three streams of one run, "
        "and prints the CPU time, context switches and peak memory of each."));
    parser.addHelpOption();
    const QCommandLineOption unpacedOption(QStringLiteral("unpaced"),
                                           QStringLiteral("Seconds of audio generated as fast as possible (60)."),
                                           QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption pacedOption(QStringLiteral("paced"),
                                         QStringLiteral("Seconds of audio paced like a capture device (20)."),
                                         QStringLiteral("seconds"), QStringLiteral("20"));
    const QCommandLineOption liveOption(
        QStringLiteral("live"), QStringLiteral("Seconds of audio from a live PulseAudio device, and for LAME alone (60)."),
        QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption noFfmpegOption(QStringLiteral("no-ffmpeg"),
                                            QStringLiteral("Leaves out the ffmpeg command line."));
    const QCommandLineOption recordOption(
        QStringLiteral("record"), QStringLiteral("The engine also records each run to a file in a temporary folder."));
    const QCommandLineOption codecsOption(
        QStringLiteral("codecs"), QStringLiteral("The codecs besides MP3 streamed live, each next to its encoder alone (all)."),
        QStringLiteral("names"), QStringLiteral("AAC,Opus,Vorbis,FLAC"));
    const QCommandLineOption streamsOption(
        QStringLiteral("streams"),
        QStringLiteral("Seconds of the live device as one stream, two of one format and three of three formats, "
                       "and for each of those encoders alone (60)."),
        QStringLiteral("seconds"), QStringLiteral("60"));
    parser.addOptions(
        {unpacedOption, pacedOption, liveOption, noFfmpegOption, recordOption, codecsOption, streamsOption});
    parser.process(app);
    int unpacedSeconds = 0;
    int pacedSeconds = 0;
    int liveSeconds = 0;
    int streamsSeconds = 0;
    if (!readSeconds(parser, unpacedOption, unpacedSeconds) || !readSeconds(parser, pacedOption, pacedSeconds)
        || !readSeconds(parser, liveOption, liveSeconds) || !readSeconds(parser, streamsOption, streamsSeconds))
        return 2;
    const bool withFfmpeg = !parser.isSet(noFfmpegOption);

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

    const QTemporaryDir folder;
    // Each kind of run in a row, engine first; a ratio per kind.
    QList<Result> results;
    QList<QPair<int, int>> ratios;
    const QString recordFolder = parser.isSet(recordOption) ? folder.path() : QString();
    const auto runPair = [&](const QString &kind, const Capture &capture, int seconds) {
        if (seconds == 0)
            return;
        results << runEngine(QStringLiteral("engine-") + kind, icecast, capture, seconds, recordFolder);
        const int engineIndex = results.size() - 1;
        if (kind == QStringLiteral("live")) {
            results << runLame(QStringLiteral("lame-alone"), seconds);
            ratios.append({engineIndex, results.size() - 1});
            results << runLameOnFile(QStringLiteral("lame-on-file"), folder.path(), seconds);
            ratios.append({engineIndex, results.size() - 1});
        }
        if (withFfmpeg) {
            results << runFfmpeg(QStringLiteral("ffmpeg-") + kind, icecast, capture, seconds);
            ratios.append({engineIndex, results.size() - 1});
        }
    };
    runPair(QStringLiteral("unpaced"), sineSource(unpacedSeconds, false), unpacedSeconds);
    runPair(QStringLiteral("paced"), sineSource(pacedSeconds, true), pacedSeconds);
    const Capture live{QStringLiteral("pulse"), pulse.desktopSourceName(), true};
    runPair(QStringLiteral("live"), live, liveSeconds);
    // The other codecs live, each next to its own encoder.
    for (const QString &name : parser.value(codecsOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (liveSeconds == 0)
            break;
        const QString kind = name.toLower();
        results << runEngine(QStringLiteral("engine-live-") + kind, icecast, live, liveSeconds, recordFolder,
                             {{name, QString::fromLatin1(bitrate)}});
        results << runEncoderAlone(kind + QStringLiteral("-alone"), codecOf(name), QString::fromLatin1(bitrate),
                                   liveSeconds);
        ratios.append({results.size() - 2, results.size() - 1});
    }
    // Several streams of one run from the live device, at most three of the
    // server's eight sources at a time.
    StreamsRuns streams;
    if (streamsSeconds > 0) {
        const StreamFormat aacAt64k{QStringLiteral("AAC"), QStringLiteral("64k")};
        const StreamFormat opusAt96k{QStringLiteral("Opus"), QStringLiteral("96k")};
        streams.one = runEngine(QStringLiteral("one-stream"), icecast, live, streamsSeconds, recordFolder);
        streams.twoOfOneFormat = runEngine(QStringLiteral("two-streams-mp3"), icecast, live, streamsSeconds,
                                           recordFolder, {mp3At128k, mp3At128k});
        streams.threeFormats = runEngine(QStringLiteral("three-formats"), icecast, live, streamsSeconds,
                                         recordFolder, {mp3At128k, aacAt64k, opusAt96k});
        const auto alone = [streamsSeconds](const StreamFormat &format) {
            return runEncoderAlone(format.codec.toLower() + QStringLiteral("-alone-") + format.bitrate,
                                   codecOf(format.codec), format.bitrate, streamsSeconds);
        };
        streams.mp3Alone = alone(mp3At128k);
        streams.aacAlone = alone(aacAt64k);
        streams.opusAlone = alone(opusAt96k);
        results << streams.one << streams.twoOfOneFormat << streams.threeFormats << streams.mp3Alone
                << streams.aacAlone << streams.opusAlone;
    }
    icecast.stop();

    std::printf("%-20s %7s %8s %7s %7s %12s %9s %9s %9s %9s %8s\n", "run", "audio s", "wall s", "user s", "sys s",
                "CPU s/aud min", "vol cs/s", "inv cs/s", "peak MiB", "chg/aud s", "on air ms");
    bool completed = true;
    for (const Result &result : results) {
        printResult(result);
        completed = completed && result.completed;
    }
    for (const auto &ratio : ratios)
        printRatio(results.at(ratio.first), results.at(ratio.second));
    if (streamsSeconds > 0)
        printStreamsFigures(streams);
    return completed ? 0 : 1;
}
