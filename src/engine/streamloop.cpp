#include "ffmpegerror.h"
#include "icecasturl.h"
#include "pipelinecontext.h"
#include "player.h"
#include "reconnectwait.h"
#include "silencewatch.h"

#include "models/logsmodel.h"

#include <QElapsedTimer>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <utility>

namespace {

// The levels of the meters, in dB; -inf is digital silence.
struct ChannelLevels
{
    double left = -std::numeric_limits<double>::infinity();
    double right = -std::numeric_limits<double>::infinity();
};

// The server connection of a run that pumps audio: what the window is told
// while the run waits to connect again.
struct Reconnection
{
    ReconnectWait wait;
    // "Connection lost" once the run has been on the air.
    QString cause;
    QString shownText;
};

// Opens the device, the encoder and the graph, which takes the encoder's
// frame size, and connects. A connection that fails in a way that may pass
// leaves the run to connect again (outputFormat empty, passingFailure set).
int setUpPipeline(PipelineContext &context)
{
    Player &player = *context.owner;
    player.setProgressText(QStringLiteral("Opening input ") + player.liveSourceName());
    int result = openInput(context);
    if (result >= 0)
        result = av_dict_copy(&context.inputMetadata, context.inputFormat->metadata, 0);
    if (result >= 0)
        result = openEncoder(context);
    if (result >= 0)
        result = initFilters(context);
    if (result < 0)
        return result;
    av_dump_format(context.inputFormat, 0, player.liveSourceIndex().toUtf8().constData(), 0);
    player.setProgressText(QStringLiteral("Connecting to remote server"));
    result = openOutput(context);
    return result < 0 && !context.passingFailure ? result : 0;
}

// Writes the stream description to the log, without the password, and shows
// the run on the air.
void goOnAir(PipelineContext &context)
{
    Player &player = *context.owner;
    av_dump_format(context.outputFormat, 0, withHiddenPassword(player.outputUrl()).toUtf8().constData(), 1);
    player.setProgressText(QString());
    player.setOnAir();
    if (!context.codec.oggStream)
        player.setReadyForTitles();
}

void showWait(Player &player, Reconnection &reconnection)
{
    const QString text = QStringLiteral("%1, reconnecting in %2 s (try %3)")
                             .arg(reconnection.cause, QString::number(reconnection.wait.secondsLeft()),
                                  QString::number(reconnection.wait.tryNumber()));
    if (text == reconnection.shownText)
        return;
    reconnection.shownText = text;
    player.setReconnecting(text);
}

// The connection failed in a way that may pass: the encoder goes with it, as
// the next connection starts a new stream, unless it goes on encoding for the
// recording; the first try is a second away.
void loseConnection(PipelineContext &context, Reconnection &reconnection)
{
    if (isRecording(context))
        closeConnection(context);
    else
        closeOutput(context);
    LogsModel::log(withFFmpegError(reconnection.cause + QLatin1Char(' '), context.passingFailure));
    context.passingFailure = 0;
    reconnection.wait.start();
    showWait(*context.owner, reconnection);
}

// Connects again once the wait is over. 0 while the run goes on, connected or
// still waiting; a failure that does not pass ends it with its code.
int reconnectWhenDue(PipelineContext &context, Reconnection &reconnection)
{
    Player &player = *context.owner;
    if (!reconnection.wait.isOver()) {
        showWait(player, reconnection);
        return 0;
    }
    const QString attempt = QString::number(reconnection.wait.tryNumber());
    player.setProgressText(QStringLiteral("Reconnecting (try %1)").arg(attempt));
    context.reconnecting = true;
    int result = context.encoder ? 0 : openEncoder(context);
    if (result >= 0)
        result = openOutput(context);
    context.reconnecting = false;
    if (result >= 0) {
        LogsModel::log(QStringLiteral("Reconnected on try ") + attempt);
        reconnection.cause = QStringLiteral("Connection lost");
        reconnection.shownText.clear();
        goOnAir(context);
        return 0;
    }
    // A stop cut the try short; the loop ends the run.
    if (player.isStopRequested())
        return 0;
    if (!context.passingFailure)
        return result;
    LogsModel::log(withFFmpegError(QStringLiteral("Try %1 to reconnect failed ").arg(attempt), context.passingFailure));
    context.passingFailure = 0;
    reconnection.wait.failedTry();
    showWait(player, reconnection);
    return 0;
}

// What the window is shown of the audio, gathered while a capture packet goes
// through the graph and published once it has: each notification wakes the
// window's thread, and the frames of one packet leave the graph at once.
struct Progress
{
    std::optional<double> elapsed;
    std::optional<double> leftLevel;
    std::optional<double> rightLevel;
};

// A one-channel source drives both meters alike; a later frame's level
// replaces an earlier one's. False when the frame carries no level.
bool readMeters(Progress &progress, const AVFrame *frame)
{
    const AVDictionaryEntry *left = av_dict_get(frame->metadata, "lavfi.astats.1.RMS_level", nullptr,
                                                AV_DICT_IGNORE_SUFFIX);
    const AVDictionaryEntry *right = av_dict_get(frame->metadata, "lavfi.astats.2.RMS_level", nullptr,
                                                 AV_DICT_IGNORE_SUFFIX);
    if (left) {
        progress.leftLevel = std::strtod(left->value, nullptr);
        progress.rightLevel = right ? std::strtod(right->value, nullptr) : *progress.leftLevel;
    } else if (right) {
        progress.rightLevel = std::strtod(right->value, nullptr);
    }
    return left || right;
}

// Tells the window and the log when the audio that goes out turns to silence
// and back; the run itself goes on either way.
void watchSilence(Player &player, SilenceWatch &watch, const ChannelLevels &levels, const AVFrame *frame)
{
    const int shownSeconds = watch.warningSeconds();
    const SilenceWatch::Event event =
        watch.addFrame(SilenceWatch::isSilent(levels.left, levels.right), frame->nb_samples, frame->sample_rate);
    if (event == SilenceWatch::WarningStarts)
        LogsModel::log(QStringLiteral("Silence on the input for %1 s").arg(player.silenceSeconds()));
    else if (event == SilenceWatch::WarningEnds)
        LogsModel::log(QStringLiteral("Audio back after %1 s of silence").arg(watch.silenceSeconds()));
    if (watch.warningSeconds() != shownSeconds)
        player.setDeadAirSeconds(watch.warningSeconds());
}

// New titles go to the recording's CUE sheet and into every Ogg stream that
// starts from now on; where the user wants it, into the stream on the air too,
// as a new chain, unless its header carries that title already (a title sent
// again after a reconnection). A connection lost meanwhile is the run's to
// reconnect.
int takeTitles(PipelineContext &context, Reconnection &reconnection, const QStringList &titles)
{
    const QString previous = std::exchange(context.title, titles.constLast());
    if (context.recorder)
        context.recorder->addTitles(titles);
    if (previous == context.title || !context.inStreamTitles || !context.outputFormat)
        return 0;
    const int result = startNewChain(context);
    if (!context.passingFailure)
        return result;
    loseConnection(context, reconnection);
    return 0;
}

void publish(Player &player, Progress &progress)
{
    if (progress.elapsed || progress.leftLevel || progress.rightLevel)
        player.setProgress(progress.elapsed, progress.leftLevel, progress.rightLevel);
    progress = Progress();
}

// Reads, decodes, filters, measures, encodes and sends until a stop has been
// flushed (0) or something ends the stream (a negative code). While the run
// waits to connect again it goes on reading and measuring, and drops the audio.
int pumpAudio(PipelineContext &context, Reconnection &reconnection)
{
    Player &player = *context.owner;
    const AVRational timeBase = context.inputFormat->streams[context.inputStreamIndex]->time_base;
    bool flushing = false;
    bool firstPacket = true;
    bool decoderDrained = false;
    int64_t startPts = 0;
    // The encoder's timestamps are counted in samples: a capture clock that
    // jitters or drifts against the system clock must not make them go back,
    // which the muxer would report for every packet.
    int64_t encoderPts = 0;
    Progress progress;
    ChannelLevels levels;
    SilenceWatch silence(player.silenceSeconds());

    // Only the capture reader touches the input from here on.
    context.capture->startReading();
    QElapsedTimer sinceAudio;
    sinceAudio.start();

    for (;;) {
        if (!flushing) {
            int result = context.capture->nextPacket(context.packet, captureWaitMs);
            if (result == AVERROR(EAGAIN)) {
                if (sinceAudio.hasExpired(captureSilenceLimitMs))
                    return captureSilentError;
            } else if (result < 0) {
                return result;
            } else if (context.packet->stream_index == context.inputStreamIndex) {
                sinceAudio.restart();
                if (firstPacket)
                    startPts = context.packet->pts;
                else
                    progress.elapsed = double(timeBase.num) / double(timeBase.den)
                        * double(context.packet->pts - startPts);
                result = avcodec_send_packet(context.decoder, context.packet);
                av_packet_unref(context.packet);
                if (result < 0)
                    return result;
                firstPacket = false;
            } else {
                av_packet_unref(context.packet);
            }
            // The one look at the main thread's requests per capture packet.
            const Player::Requests requests = player.takeRequests();
            if (!requests.titles.isEmpty()) {
                result = takeTitles(context, reconnection, requests.titles);
                if (result < 0)
                    return result;
            }
            if (requests.stop) {
                // Without a connection or a recording there is nothing to drain into.
                if (!context.outputFormat && !isRecording(context))
                    return 0;
                result = avcodec_send_packet(context.decoder, nullptr);
                if (result < 0)
                    return result;
                flushing = true;
            } else if (!context.outputFormat) {
                // A new encoder starts at 0; one kept for the recording goes on.
                if (!context.encoder)
                    encoderPts = 0;
                result = reconnectWhenDue(context, reconnection);
                if (result < 0)
                    return result;
            }
        }

        if (!decoderDrained) {
            const int result = avcodec_receive_frame(context.decoder, context.decodedFrame);
            if (result == AVERROR(EAGAIN))
                continue;
            if (result == AVERROR_EOF) {
                decoderDrained = true;
                // Its result is not needed: the sink reports the end of the graph.
                [[maybe_unused]] const int closed = av_buffersrc_add_frame(context.sourceFilter, nullptr);
            } else if (result < 0) {
                return result;
            } else {
                const int added = av_buffersrc_add_frame_flags(context.sourceFilter, context.decodedFrame,
                                                               AV_BUFFERSRC_FLAG_KEEP_REF);
                av_frame_unref(context.decodedFrame);
                if (added < 0)
                    return added;
            }
        }

        for (;;) {
            int result = av_buffersink_get_frame(context.sinkFilter, context.filteredFrame);
            if (result == AVERROR(EAGAIN)) {
                publish(player, progress);
                break;
            }
            if (result == AVERROR_EOF) {
                result = encodeAndWrite(context, nullptr);
                return result < 0 ? result : 0;
            }
            if (result < 0)
                return result;
            const bool measured = readMeters(progress, context.filteredFrame);
            if (measured) {
                levels.left = progress.leftLevel.value_or(levels.left);
                levels.right = progress.rightLevel.value_or(levels.right);
            }
            // Only what goes on air counts: a wait to reconnect pauses the watch.
            if (measured && context.outputFormat)
                watchSilence(player, silence, levels, context.filteredFrame);
            if (context.outputFormat || isRecording(context)) {
                context.filteredFrame->pts = encoderPts;
                encoderPts += context.filteredFrame->nb_samples;
                result = encodeAndWrite(context, context.filteredFrame);
                if (context.passingFailure && !flushing)
                    loseConnection(context, reconnection);
                else if (result < 0 && result != AVERROR(EAGAIN))
                    return result;
            }
            av_frame_unref(context.filteredFrame);
        }
    }
}

} // namespace

int Player::runStream()
{
    PipelineContext context;
    context.owner = this;
    context.codec = codec();
    context.inStreamTitles = sendsTitlesInStream();
    context.title = startTitle();
    context.reconnects = reconnects();
    setOutputUrl(protocol() == QLatin1String("shoutcast") ? shoutcastUrl(hostname(), port())
                                                           : icecastUrl(user(), password(), hostname(), port(), mount()));
    Reconnection reconnection;
    reconnection.cause = QStringLiteral("Could not connect");
    if (records())
        context.recorder = std::make_unique<Recorder>(*this);

    int result = 0;
    bool pumping = false;
    context.packet = av_packet_alloc();
    context.decodedFrame = av_frame_alloc();
    context.filteredFrame = av_frame_alloc();
    if (!context.packet || !context.decodedFrame || !context.filteredFrame)
        result = AVERROR(ENOMEM);
    if (result >= 0)
        result = setUpPipeline(context);
    if (result >= 0) {
        if (context.outputFormat) {
            reconnection.cause = QStringLiteral("Connection lost");
            goOnAir(context);
        } else {
            loseConnection(context, reconnection);
        }
        pumping = true;
        result = pumpAudio(context, reconnection);
    }

    // The end of the device's stream is a normal end, and so is a stop that cut
    // short a set-up waiting on a device that never answered. A set-up stage
    // that failed without a message of its own is still reported, so that a
    // failed start never shows "Off"; whatever the main thread reported
    // meanwhile (a refused title) is not the run's message.
    const bool runReported = locked(m_runReported);
    const bool endOfStream = pumping && result == AVERROR_EOF;
    if (!pumping && !runReported && result == AVERROR_EXIT && isStopRequested())
        result = 0;
    if (result == captureSilentError) {
        reportError(QStringLiteral("No audio from the capture device for 10 s"));
        // From here on it counts as the device's input failing.
        result = AVERROR(EIO);
    } else if (result < 0 && !endOfStream && (pumping || !runReported)) {
        reportError(QStringLiteral("Error occurred: ") + ffmpegErrorText(result));
    }
    if (result < 0)
        LogsModel::log(QStringLiteral("Streaming stopped: ") + ffmpegErrorText(result));
    if (context.recorder)
        context.recorder->finish();
    releasePipeline(context);
    endRun();
    return endOfStream ? 0 : result;
}
