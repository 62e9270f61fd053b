#pragma once

#include "sendqueue.h"
#include "streamcontext.h"

#include <thread>

extern "C" {
struct AVCodecContext;
struct AVDictionary;
}

class ReconnectWait;

// One stream of a run, on a thread of its own: it connects, sends what its
// encoder makes, takes the run's titles, and when the user wants it connects
// again after a loss, so that no server's answers, time-outs or waits hold
// back the capture or another stream. The run hands it packets through its
// queue and learns there how it ended.
class StreamSender
{
public:
    StreamSender(Player &player, int index, const StreamSettings &settings, bool reconnects, const QString &title);
    // Abandons the stream and waits for its thread.
    ~StreamSender();
    StreamSender(const StreamSender &) = delete;
    StreamSender &operator=(const StreamSender &) = delete;

    // Starts the thread for the open encoder of the stream's format: 0, or a
    // negative FFmpeg error code.
    int start(const AVCodecContext *encoder, const AVDictionary *inputMetadata);
    SendQueue &queue() { return m_queue; }
    // Waits until the stream has ended, at most waitMs, then abandons it and
    // waits for its thread.
    void join(int waitMs);

private:
    void run();
    int connect();
    void goOnAir();
    // Sends until the queue is closed (then the stream's end), or the
    // connection fails or is abandoned.
    int send();
    // Shows the countdown until the try is due; false when the queue was
    // closed meanwhile.
    bool waitForTry(const ReconnectWait &wait, const QString &cause);

    StreamContext m_context;
    SendQueue m_queue;
    std::thread m_thread;
};
