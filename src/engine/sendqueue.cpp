#include "sendqueue.h"

extern "C" {
#include <libavcodec/packet.h>
}

#include <chrono>

namespace {

// How much audio the queue holds while its server takes nothing: a server that
// falls further behind has lost the stream.
constexpr int64_t capacitySeconds = 5;
constexpr int64_t batchesPerSecond = 5;

} // namespace

SendQueue::SendQueue(int sampleRate, const QString &title)
    : m_capacity(capacitySeconds * sampleRate)
    , m_batch(sampleRate / batchesPerSecond)
    , m_title(title)
{
}

SendQueue::~SendQueue()
{
    clearLocked();
}

void SendQueue::clearLocked()
{
    for (Item &item : m_items)
        av_packet_free(&item.packet);
    m_items.clear();
    m_queuedSamples = 0;
}

void SendQueue::push(const AVPacket *packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_onAir || m_overflowed)
        return;
    if (m_queuedSamples + packet->duration > m_capacity) {
        m_overflowed = true;
        m_wakeAtOnce = true;
        return;
    }
    AVPacket *reference = av_packet_clone(packet);
    if (!reference)
        return; // out of memory: the listeners miss one packet
    m_items.push_back({reference, QString()});
    m_queuedSamples += packet->duration;
    m_samplesSinceWake += packet->duration;
}

void SendQueue::setTitle(const QString &title)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_title = title;
    if (m_onAir) {
        m_items.push_back({nullptr, title});
        m_wakeAtOnce = true;
    }
}

void SendQueue::wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_wakeAtOnce && m_samplesSinceWake < m_batch)
            return;
        m_wakeAtOnce = false;
        m_samplesSinceWake = 0;
    }
    m_changed.notify_all();
}

void SendQueue::close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
}

void SendQueue::abandon()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_abandoned = true;
    }
    m_changed.notify_all();
}

bool SendQueue::hasEnded() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended;
}

int SendQueue::endCode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endCode;
}

bool SendQueue::isOnAir() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_onAir;
}

SendQueue::Next SendQueue::next(AVPacket *&packet, QString &title)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_abandoned || m_overflowed || m_closed || !m_items.empty(); });
    if (m_abandoned)
        return Next::Abandoned;
    if (m_overflowed)
        return Next::Overflowed;
    if (m_items.empty())
        return Next::Closed;
    Item item = std::move(m_items.front());
    m_items.pop_front();
    if (!item.packet) {
        title = item.title;
        return Next::Title;
    }
    m_queuedSamples -= item.packet->duration;
    packet = item.packet;
    return Next::Packet;
}

void SendQueue::setOnAir(bool onAir)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onAir = onAir;
    m_overflowed = false;
    if (!onAir)
        clearLocked();
}

QString SendQueue::title() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_title;
}

bool SendQueue::waitForClose(int waitMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return m_closed || m_abandoned; });
}

bool SendQueue::interruptsSender() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_abandoned || m_overflowed;
}

bool SendQueue::hasOverflowed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_overflowed;
}

bool SendQueue::isClosed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

void SendQueue::setEnded(int code, bool afterStart)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_endCode = code;
        m_failedAfterStart = code < 0 && afterStart;
    }
    m_changed.notify_all();
}

bool SendQueue::failedAfterStart() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failedAfterStart;
}

bool SendQueue::waitForEnd(int waitMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return m_ended; });
}
