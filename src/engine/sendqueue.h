#pragma once

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

extern "C" {
struct AVPacket;
}

// Between the encoders of a run (the job thread) and one stream's sender (a
// thread of its own): the packets to send, the titles among them, and how the
// sender ends. Bounded in seconds of audio, so that a server that stops
// reading holds back nothing but its own stream: a packet beyond the bound is
// dropped and the queue counts as overflowed, which the sender takes for a
// lost connection. It has its own lock: the job thread never waits for a
// sender.
class SendQueue
{
public:
    // sampleRate: the stream's; title: the run's title so far.
    SendQueue(int sampleRate, const QString &title);
    ~SendQueue();
    SendQueue(const SendQueue &) = delete;
    SendQueue &operator=(const SendQueue &) = delete;

    // The job thread's side.

    // Queues a reference to the packet while the stream is on the air;
    // drops it otherwise.
    void push(const AVPacket *packet);
    // The run's latest title: the next connection's header carries it, and
    // on the air it takes its place among the packets.
    void setTitle(const QString &title);
    // Wakes the sender once a batch of audio has come since it last woke
    // (about a fifth of a second), or a title: each wake-up costs more than
    // the writes it leads to.
    void wake();
    // No more packets come: the sender sends what is queued, ends its stream and stops.
    void close();
    // The sender stops at once, wherever it waits.
    void abandon();
    bool hasEnded() const;
    // 0, or the code of the failure that ended the stream, which the sender has reported.
    int endCode() const;
    // Whether that failure came after the stream's first try to connect: on
    // the air, or while it waited to connect again.
    bool failedAfterStart() const;
    // Waits at most waitMs; true as soon as the stream has ended.
    bool waitForEnd(int waitMs);
    bool isOnAir() const;

    // The sender's side.

    enum class Next { Packet, Title, Closed, Abandoned, Overflowed };
    // Waits for what the sender is to do next; with Packet the packet is the
    // caller's to free, with Title the title is set.
    Next next(AVPacket *&packet, QString &title);
    // On the air (packets come) or not (they are dropped, and those queued
    // are freed). Either way the queue is no longer overflowed.
    void setOnAir(bool onAir);
    QString title() const;
    // Waits at most waitMs; true as soon as the queue is closed or abandoned.
    bool waitForClose(int waitMs);
    // Whether a blocking call of the sender should give up now.
    bool interruptsSender() const;
    bool hasOverflowed() const;
    bool isClosed() const;
    void setEnded(int code, bool afterStart);

private:
    struct Item
    {
        AVPacket *packet = nullptr; // null: a title
        QString title;
    };
    void clearLocked();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    const int64_t m_capacity;
    const int64_t m_batch;
    int64_t m_queuedSamples = 0;
    int64_t m_samplesSinceWake = 0;
    QString m_title;
    bool m_onAir = false;
    bool m_overflowed = false;
    bool m_closed = false;
    bool m_abandoned = false;
    // A title or an overflow, which the sender sees at once.
    bool m_wakeAtOnce = false;
    bool m_ended = false;
    int m_endCode = 0;
    bool m_failedAfterStart = false;
};
