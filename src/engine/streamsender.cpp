#include "streamsender.h"

#include "ffmpegerror.h"
#include "icecasturl.h"
#include "player.h"
#include "reconnectwait.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <system_error>

StreamSender::StreamSender(Player &player, int index, const StreamSettings &settings, bool reconnects,
                           const QString &title)
    : m_queue(settings.sampleRate, title)
{
    m_context.owner = &player;
    m_context.index = index;
    m_context.settings = settings;
    m_context.queue = &m_queue;
    m_context.reconnects = reconnects;
}

StreamSender::~StreamSender()
{
    join(0);
    avcodec_parameters_free(&m_context.codecParameters);
    av_dict_free(&m_context.inputMetadata);
}

int StreamSender::start(const AVCodecContext *encoder, const AVDictionary *inputMetadata)
{
    m_context.codecParameters = avcodec_parameters_alloc();
    if (!m_context.codecParameters)
        return AVERROR(ENOMEM);
    int result = avcodec_parameters_from_context(m_context.codecParameters, encoder);
    if (result >= 0)
        result = av_dict_copy(&m_context.inputMetadata, inputMetadata, 0);
    if (result < 0)
        return result;
    m_context.encoderTimeBase = encoder->time_base;
    try {
        m_thread = std::thread(&StreamSender::run, this);
    } catch (const std::system_error &) {
        return AVERROR(EAGAIN);
    }
    return 0;
}

void StreamSender::join(int waitMs)
{
    if (!m_thread.joinable())
        return;
    if (!m_queue.waitForEnd(waitMs))
        m_queue.abandon();
    m_thread.join();
}

int StreamSender::connect()
{
    m_context.title = m_queue.title();
    m_context.connecting = true;
    const int result = openOutput(m_context);
    m_context.connecting = false;
    return result;
}

// Writes the stream's description to the log, without the password.
void StreamSender::goOnAir()
{
    Player &player = *m_context.owner;
    const QString url = withHiddenPassword(m_context.settings.outputUrl());
    av_dump_format(m_context.outputFormat, 0, url.toUtf8().constData(), 1);
    m_queue.setOnAir(true);
    player.setStreamOnAir(m_context.index);
    // An Ogg stream takes titles once a second of it is out (writePacket).
    if (!m_context.settings.codec.oggStream)
        player.setReadyForTitles(m_context.index);
}

int StreamSender::send()
{
    for (;;) {
        AVPacket *packet = nullptr;
        QString title;
        int result = 0;
        switch (m_queue.next(packet, title)) {
        case SendQueue::Next::Packet:
            result = writePacket(m_context, packet);
            av_packet_free(&packet);
            break;
        case SendQueue::Next::Title:
            // A title sent again after a reconnection is in the header already.
            if (m_context.settings.inStreamTitles && title != m_context.title) {
                m_context.title = title;
                result = startNewChain(m_context);
            }
            m_context.title = title;
            break;
        case SendQueue::Next::Closed:
            return finishOutput(m_context);
        case SendQueue::Next::Abandoned:
            return AVERROR_EXIT;
        case SendQueue::Next::Overflowed:
            result = AVERROR(ETIMEDOUT);
            reportConnectionFailure(m_context, ConnectionStep::Send,
                                    withFFmpegError(QStringLiteral("Could not write frame "), result), result);
            break;
        }
        if (result < 0)
            return result;
    }
}

bool StreamSender::waitForTry(const ReconnectWait &wait, const QString &cause)
{
    Player &player = *m_context.owner;
    while (!wait.isOver()) {
        const int seconds = wait.secondsLeft();
        player.setStreamWaiting(m_context.index,
                                QStringLiteral("%1, reconnecting in %2 s (try %3)")
                                    .arg(cause, QString::number(seconds), QString::number(wait.tryNumber())),
                                seconds);
        if (m_queue.waitForClose(wait.msUntilNextSecond()))
            return false;
    }
    return true;
}

void StreamSender::run()
{
    StreamContext &context = m_context;
    Player &player = *context.owner;
    ReconnectWait wait;
    // "Connection lost" once the stream has been on the air.
    QString cause = QStringLiteral("Could not connect");
    bool waiting = false;
    // Once on the air or waiting to connect again: a failure from then on
    // ends a stream that was under way.
    bool started = false;
    player.setStreamConnecting(context.index, QString());
    int result = connect();
    for (;;) {
        if (result >= 0) {
            if (waiting)
                player.logStream(context.index, QStringLiteral("Reconnected on try %1").arg(wait.tryNumber()));
            waiting = false;
            started = true;
            cause = QStringLiteral("Connection lost");
            goOnAir();
            result = send();
            closeConnection(context);
            m_queue.setOnAir(false);
            if (result >= 0 || result == AVERROR_EXIT || m_queue.isClosed())
                break;
        }
        // A failure that does not pass was reported by its stage.
        if (!context.passingFailure)
            break;
        if (!waiting) {
            player.logStream(context.index, withFFmpegError(cause + QLatin1Char(' '), context.passingFailure));
            wait.start();
            waiting = true;
            started = true;
        } else {
            player.logStream(context.index,
                             withFFmpegError(QStringLiteral("Try %1 to reconnect failed ").arg(wait.tryNumber()),
                                             context.passingFailure));
            wait.failedTry();
        }
        context.passingFailure = 0;
        if (!waitForTry(wait, cause)) {
            result = 0;
            break;
        }
        player.setStreamConnecting(context.index, QStringLiteral("Reconnecting (try %1)").arg(wait.tryNumber()));
        context.reconnecting = true;
        result = connect();
        context.reconnecting = false;
        // A stop cut the try short.
        if (result < 0 && player.isStopRequested()) {
            result = 0;
            break;
        }
    }
    m_queue.setEnded(result >= 0 || result == AVERROR_EXIT ? 0 : result, started);
}
