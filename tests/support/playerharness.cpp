#include "playerharness.h"

#include "engine/codec.h"
#include "icecastserver.h"
#include "models/logsmodel.h"

#include <QDir>
#include <QtMath>

#include <cmath>

namespace {

QtMessageHandler defaultMessageHandler = nullptr;

void keepDebugOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        capturedDebugOutput().append(message);
    else
        defaultMessageHandler(type, context, message);
}

double decibels(double rms)
{
    return 20.0 * std::log10(qMax(rms, 1e-9));
}

} // namespace

QString toneText(int frequency, double levelDb)
{
    return QStringLiteral("%1 Hz at about %2 dB").arg(frequency).arg(levelDb);
}

// All but 1 dB of the power at the frequency, at about the level: silence, a
// wrong pitch from a wrong or missing resampling, and noise all show. The
// tone's power is measured in tenths of the second, so that a jump of its
// phase (a new Ogg chain that starts a decoder afresh) costs at most a tenth.
QString heardTone(const QVector<float> &samples, int sampleRate, int from, int frequency, double levelDb)
{
    if (sampleRate <= 0 || from < 0 || from + sampleRate > samples.size())
        return QStringLiteral("%1 samples at %2 Hz").arg(samples.size()).arg(sampleRate);
    // Goertzel filters over a tenth of a second: a whole number of the tone's periods.
    const int window = sampleRate / 10;
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequency / sampleRate);
    double power = 0.0;
    double tonePower = 0.0;
    for (int start = from; start + window <= from + sampleRate; start += window) {
        double previous = 0.0;
        double beforePrevious = 0.0;
        for (int i = start; i < start + window; ++i) {
            const double current = samples.at(i) + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = current;
            power += double(samples.at(i)) * samples.at(i);
        }
        // A sine of amplitude A gives a magnitude of A * N / 2 and a power of A * A / 2.
        const double magnitude = previous * previous + beforePrevious * beforePrevious
            - coefficient * previous * beforePrevious;
        tonePower += 2.0 * qMax(0.0, magnitude) / window;
    }
    const double allDb = decibels(std::sqrt(power / (10 * window)));
    const double toneDb = decibels(std::sqrt(tonePower / (10 * window)));
    if (allDb - toneDb > 1.0 || qAbs(toneDb - levelDb) > 1.5)
        return QStringLiteral("%1 dB in all, %2 dB at %3 Hz").arg(allDb, 0, 'f', 1).arg(toneDb, 0, 'f', 1)
            .arg(frequency);
    return toneText(frequency, levelDb);
}

QStringList toneGaps(const ListenerRecording &recording, int frequency, double levelDb)
{
    const int rate = recording.stream.value(QStringLiteral("sample_rate")).toString().toInt();
    QStringList gaps;
    for (int from = 0; rate > 0 && from + rate <= recording.samples.size(); from += rate) {
        const QString heard = heardTone(recording.samples, rate, from, frequency, levelDb);
        if (heard != toneText(frequency, levelDb))
            gaps << QStringLiteral("second %1: %2").arg(from / rate).arg(heard);
    }
    return gaps;
}

void captureDebugOutput()
{
    defaultMessageHandler = qInstallMessageHandler(keepDebugOutput);
}

QStringList &capturedDebugOutput()
{
    static QStringList lines;
    return lines;
}

QVariantMap streamSettings(const IcecastServer &server, const QString &source, const QString &mount,
                           int sampleRate, const QString &bitrate, const QString &codec)
{
    const QVariantMap stream{
        {QStringLiteral("encoder"), codec},
        {QStringLiteral("bitrate"), bitrate}, {QStringLiteral("samplerate"), sampleRate},
        {QStringLiteral("user"), server.sourceUser()}, {QStringLiteral("password"), server.sourcePassword()},
        {QStringLiteral("hostname"), server.host()}, {QStringLiteral("port"), server.port()},
        {QStringLiteral("protocol"), QStringLiteral("HTTP")}, {QStringLiteral("mount"), mount},
        {QStringLiteral("name"), QStringLiteral("Tavolin Test FM")},
        {QStringLiteral("description"), QStringLiteral("Loopback test stream")},
        {QStringLiteral("genre"), QStringLiteral("Test tones")},
        {QStringLiteral("url"), QStringLiteral("http://radio.invalid/")},
    };
    const QVariantMap liveSource{{QStringLiteral("index"), source},
                                 {QStringLiteral("name"), QStringLiteral("Tone generator")}};
    return {{QStringLiteral("stream"), stream}, {QStringLiteral("liveSource"), liveSource}};
}

QVariantMap withStream(QVariantMap settings, const QVariantMap &changes)
{
    QVariantMap stream = settings.value(QStringLiteral("stream")).toMap();
    for (auto change = changes.cbegin(); change != changes.cend(); ++change)
        stream.insert(change.key(), change.value());
    settings.insert(QStringLiteral("stream"), stream);
    return settings;
}

QStringList listenerView(const IcecastServer &server, const QString &mount, int toneFrequency, double levelDb,
                         int durationMs)
{
    const QStringList keys =
        QStringLiteral("server_name server_description genre server_url server_type").split(QLatin1Char(' '));
    QStringList view;
    waitUntil(10000, [&] {
        const QJsonObject listed = server.mountStatus(mount);
        view.clear();
        for (const QString &key : keys) {
            if (!listed.contains(key))
                return false;
            view << listed.value(key).toString();
        }
        return true;
    });
    const ListenerRecording heard = server.recordListener(mount, durationMs);
    const int sampleRate = heard.stream.value(QStringLiteral("sample_rate")).toString().toInt();
    // Well after the start, in the middle of the audio; none in less than two seconds.
    const int middleSecond = heard.samples.size() < 2 * sampleRate ? -1 : heard.samples.size() / 2 - sampleRate / 2;
    return view << heard.format()
                << (toneFrequency ? heardTone(heard.samples, sampleRate, middleSecond, toneFrequency, levelDb)
                                  : QString());
}

QStringList expectedListenerView(int sampleRate, int bitsPerSecond, int toneFrequency, double levelDb,
                                 const QString &codec)
{
    // ffprobe names each codec as the codec box does, in lower case.
    return {QStringLiteral("Tavolin Test FM"), QStringLiteral("Loopback test stream"), QStringLiteral("Test tones"),
            QStringLiteral("http://radio.invalid/"), QString::fromLatin1(codecOf(codec).contentType), codec.toLower(),
            QString::number(sampleRate), QStringLiteral("2"), QString::number(bitsPerSecond),
            toneFrequency ? toneText(toneFrequency, levelDb) : QString()};
}

PlayerRecorder::PlayerRecorder(const Player &player)
    : m_player(&player)
{
    connect(
        &player, &Player::dataChanged, this,
        [this] {
            ++notifications;
            record();
        },
        Qt::QueuedConnection);
    connect(&player, &Player::hasShutdown, this, [this] { ++runsEnded; }, Qt::QueuedConnection);
    record();
}

void PlayerRecorder::record()
{
    if (!m_player)
        return;
    const int status = m_player->status();
    if (statuses.isEmpty() || statuses.constLast() != status)
        statuses.append(status);
    const QString progress = m_player->progressText();
    if (progressTexts.isEmpty() || progressTexts.constLast() != progress)
        progressTexts.append(progress);
}

bool waitForStatus(const Player &player, int status, int timeoutMs)
{
    return waitUntil(timeoutMs, [&] { return player.status() == status; });
}

QStringList logLines(const LogsModel &log)
{
    return log.data(log.index(0, 0)).toString().split(QLatin1Char('\n'));
}

bool showsThePassword(const LogsModel &log)
{
    const QString text = (logLines(log) + capturedDebugOutput()).join(QLatin1Char('\n'));
    return text.contains(QStringLiteral("p@ss")) || text.contains(QStringLiteral("p%40ss"));
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

QStringList openFiles()
{
    QStringList files;
    const QDir folder(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &file : folder.entryInfoList(QDir::Files | QDir::System))
        files << file.symLinkTarget();
    return files;
}

int openFileCount()
{
    return int(openFiles().size());
}
