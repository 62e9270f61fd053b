#include "ffmpegerror.h"
#include "pipelinecontext.h"
#include "player.h"
#include "silencewatch.h"

#include "models/logsmodel.h"

#include <QElapsedTimer>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

namespace {

// The levels of the meters, in dB; -inf is digital silence.
struct ChannelLevels
{
    double left = -std::numeric_limits<double>::infinity();
    double right = -std::numeric_limits<double>::infinity();
};

// Opens the device, the encoders and the graph, which takes their frame
// sizes, and starts the streams, each of which connects on its own.
int setUpPipeline(PipelineContext &context)
{
    Player &player = *context.owner;
    player.setProgressText(QStringLiteral("Opening input ") + player.liveSourceName());
    int result = openInput(context);
    if (result >= 0)
        result = av_dict_copy(&context.inputMetadata, context.inputFormat->metadata, 0);
    if (result >= 0)
        result = openEncoders(context);
    if (result >= 0)
        result = initFilters(context);
    if (result < 0)
        return result;
    av_dump_format(context.inputFormat, 0, player.liveSourceIndex().toUtf8().constData(), 0);
    player.setProgressText(QStringLiteral("Connecting to remote server"));
    return startSenders(context);
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

// New titles go to the recording's CUE sheet and to every stream, whose Ogg
// headers carry the latest from now on.
void takeTitles(PipelineContext &context, const QStringList &titles)
{
    if (context.recorder)
        context.recorder->addTitles(titles);
    for (const auto &sender : context.senders)
        sender->queue().setTitle(titles.constLast());
}

void publish(Player &player, Progress &progress)
{
    if (progress.elapsed || progress.leftLevel || progress.rightLevel)
        player.setProgress(progress.elapsed, progress.leftLevel, progress.rightLevel);
    progress = Progress();
}

bool anyStreamOnAir(const PipelineContext &context)
{
    return std::any_of(context.senders.cbegin(), context.senders.cend(),
                       [](const auto &sender) { return sender->queue().isOnAir(); });
}

bool allStreamsEnded(const PipelineContext &context)
{
    return std::all_of(context.senders.cbegin(), context.senders.cend(),
                       [](const auto &sender) { return sender->queue().hasEnded(); });
}

// The code of the failure that ended the stream that ended last of all, once
// each has ended with one; else 0.
int failureOfEveryStream(const PipelineContext &context)
{
    int code = 0;
    for (const auto &sender : context.senders) {
        if (!sender->queue().hasEnded() || sender->queue().endCode() >= 0)
            return 0;
        code = sender->queue().endCode();
    }
    return code;
}

// What the meters and the silence watch are shown of the audio, as the run
// measures it.
struct Measuring
{
    Progress progress;
    ChannelLevels levels;
    SilenceWatch silence;
    // Whether a stream is on the air, read once per capture packet: only
    // what goes out counts, and a wait to reconnect pauses the watch.
    bool onAir = false;
};

// Takes what the graph has for every encoding, measures the first's frames,
// and encodes and sends them all. 0 once every encoding is drained (after a
// stop), AVERROR(EAGAIN) while the graph wants more input, or a failure.
int encodeGraphOutput(PipelineContext &context, Measuring &measuring)
{
    Player &player = *context.owner;
    bool drained = true;
    for (Encoding &encoding : context.encodings) {
        const bool measured = &encoding == &context.encodings.front();
        while (!encoding.drained) {
            int result = av_buffersink_get_frame(encoding.sinkFilter, context.filteredFrame);
            if (result == AVERROR(EAGAIN))
                break;
            if (result == AVERROR_EOF) {
                encoding.drained = true;
                result = encodeAndSend(context, encoding, nullptr);
                if (result < 0)
                    return result;
                break;
            }
            if (result < 0)
                return result;
            if (measured && readMeters(measuring.progress, context.filteredFrame)) {
                measuring.levels.left = measuring.progress.leftLevel.value_or(measuring.levels.left);
                measuring.levels.right = measuring.progress.rightLevel.value_or(measuring.levels.right);
                if (measuring.onAir)
                    watchSilence(player, measuring.silence, measuring.levels, context.filteredFrame);
            }
            context.filteredFrame->pts = encoding.nextPts;
            encoding.nextPts += context.filteredFrame->nb_samples;
            result = encodeAndSend(context, encoding, context.filteredFrame);
            av_frame_unref(context.filteredFrame);
            if (result < 0 && result != AVERROR(EAGAIN))
                return result;
        }
        drained = drained && encoding.drained;
    }
    if (drained)
        return 0;
    publish(player, measuring.progress);
    for (const auto &sender : context.senders)
        sender->queue().wake();
    return AVERROR(EAGAIN);
}

// Reads, decodes, filters, measures, encodes and hands the packets to the
// streams until a stop has been flushed (0), every stream has ended (the
// failure of the last one, with streamsEnded set), or something ends the run
// (a negative code). Streams that wait to connect again drop their packets;
// the recording gets them all.
int pumpAudio(PipelineContext &context, bool &streamsEnded)
{
    Player &player = *context.owner;
    const AVRational timeBase = context.inputFormat->streams[context.inputStreamIndex]->time_base;
    bool flushing = false;
    bool firstPacket = true;
    bool decoderDrained = false;
    int64_t startPts = 0;
    Measuring measuring{Progress(), ChannelLevels(), SilenceWatch(player.silenceSeconds())};

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
                    measuring.progress.elapsed = double(timeBase.num) / double(timeBase.den)
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
            if (!requests.titles.isEmpty())
                takeTitles(context, requests.titles);
            measuring.onAir = requests.onAir;
            if (requests.stop) {
                // Without a stream on the air or a recording there is nothing to drain into.
                if (!anyStreamOnAir(context) && !isRecording(context))
                    return 0;
                result = avcodec_send_packet(context.decoder, nullptr);
                if (result < 0)
                    return result;
                flushing = true;
            } else if (allStreamsEnded(context)) {
                streamsEnded = true;
                return failureOfEveryStream(context);
            }
        }

        if (!decoderDrained) {
            const int result = avcodec_receive_frame(context.decoder, context.decodedFrame);
            if (result == AVERROR(EAGAIN))
                continue;
            if (result == AVERROR_EOF) {
                decoderDrained = true;
                // Its result is not needed: the sinks report the end of the graph.
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

        const int result = encodeGraphOutput(context, measuring);
        if (result != AVERROR(EAGAIN))
            return result;
    }
}

} // namespace

int Player::runStream()
{
    PipelineContext context;
    context.owner = this;
    if (records())
        context.recorder = std::make_unique<Recorder>(*this);

    int result = 0;
    bool pumping = false;
    bool streamsEnded = false;
    context.packet = av_packet_alloc();
    context.decodedFrame = av_frame_alloc();
    context.filteredFrame = av_frame_alloc();
    if (!context.packet || !context.decodedFrame || !context.filteredFrame)
        result = AVERROR(ENOMEM);
    if (result >= 0)
        result = setUpPipeline(context);
    if (result >= 0) {
        pumping = true;
        result = pumpAudio(context, streamsEnded);
    }
    // The device goes first, while it still delivers: its reader closes it at
    // once then, not after the streams' ends. Each stream then sends what it
    // was given.
    context.inputFormat = nullptr;
    context.capture.reset();
    finishSenders(context);

    // The end of the device's stream is a normal end, and so is a stop that cut
    // short a set-up waiting on a device that never answered. A set-up stage
    // that failed without a message of its own is still reported, so that a
    // failed start never shows "Off"; whatever the main thread reported
    // meanwhile (a refused title) is not the run's message. Streams report
    // their own failures; one stream that failed under way ends the run as a
    // failed write always has.
    const bool runReported = locked(m_runReported);
    const bool endOfStream = pumping && result == AVERROR_EOF;
    if (!pumping && !runReported && result == AVERROR_EXIT && isStopRequested())
        result = 0;
    if (result == captureSilentError) {
        reportError(QStringLiteral("No audio from the capture device for 10 s"));
        // From here on it counts as the device's input failing.
        result = AVERROR(EIO);
    } else if (streamsEnded) {
        if (context.senders.size() == 1 && context.senders.front()->queue().failedAfterStart())
            reportError(QStringLiteral("Error occurred: ") + ffmpegErrorText(result));
    } else if (result < 0 && !endOfStream && (pumping || !runReported)) {
        reportError(QStringLiteral("Error occurred: ") + ffmpegErrorText(result));
    } else if (result == 0 && pumping) {
        // Stopped, while every stream had failed or was failing.
        result = failureOfEveryStream(context);
    }
    if (result < 0)
        LogsModel::log(QStringLiteral("Streaming stopped: ") + ffmpegErrorText(result));
    if (context.recorder)
        context.recorder->finish();
    releasePipeline(context);
    endRun();
    return endOfStream ? 0 : result;
}
