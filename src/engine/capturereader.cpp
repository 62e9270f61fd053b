#include "capturereader.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

// An input that answers "try again" (dshow) is asked again after this.
constexpr std::chrono::milliseconds readRetryDelay(100);
// Letting go of the device waits for the thread while the device delivers: a
// read returns within one fragment (100 ms asked for), and the device and its
// sound-server connection are closed by the time the run reports its end. A
// device that has delivered nothing for this long may never return.
constexpr std::chrono::milliseconds stalledAfter(300);
// The longest wait, also for a device that goes on delivering.
constexpr std::chrono::milliseconds longestReleaseWait(1000);
// Packets read ahead of the run. When the run falls behind the thread waits,
// and the device buffers (and drops) as it did before it had a thread. It
// waits until half the queue has been taken: an input faster than the run
// (a file, lavfi) then wakes it once for many packets, not for each one.
constexpr std::size_t queueCapacity = 16;
constexpr std::size_t queueRefillMark = queueCapacity / 2;

} // namespace

// What the run and the capture thread share. It has its own lock, not the
// Player's mutex: the thread may outlive the Player and the run, so both
// sides hold this object and the last one frees it.
struct CaptureHandOver
{
    ~CaptureHandOver()
    {
        for (AVPacket *&packet : packets)
            av_packet_free(&packet);
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::array<std::optional<int>, 2> stepResults;
    AVFormatContext *input = nullptr; // once both steps succeeded
    bool reading = false;             // the run has started reading
    bool released = false;            // the run has let go
    bool finished = false;            // the thread has closed the device
    Clock::time_point lastDelivery = Clock::now(); // of a packet, or the thread's start
    int readResult = 0;               // what stopped the reading, once finished
    std::array<AVPacket *, queueCapacity> packets{};
    std::size_t first = 0;
    std::size_t count = 0;
};

namespace {

bool isReleased(CaptureHandOver &handOver)
{
    std::lock_guard<std::mutex> lock(handOver.mutex);
    return handOver.released;
}

int interruptWhenReleased(void *handOver)
{
    return isReleased(*static_cast<CaptureHandOver *>(handOver)) ? 1 : 0;
}

void finishStep(CaptureHandOver &handOver, CaptureStep step, int result, AVFormatContext *input)
{
    {
        std::lock_guard<std::mutex> lock(handOver.mutex);
        handOver.stepResults[std::size_t(step)] = result;
        handOver.input = input;
    }
    handOver.changed.notify_all();
}

// True when the run wants the packets, false when it let go first.
bool waitForReading(CaptureHandOver &handOver)
{
    std::unique_lock<std::mutex> lock(handOver.mutex);
    handOver.changed.wait(lock, [&] { return handOver.reading || handOver.released; });
    return !handOver.released;
}

// Waits while the queue is full, until it is half empty or the run lets go.
void queuePacket(CaptureHandOver &handOver, AVPacket *packet)
{
    std::unique_lock<std::mutex> lock(handOver.mutex);
    handOver.lastDelivery = Clock::now();
    if (handOver.count == queueCapacity)
        handOver.changed.wait(lock, [&] { return handOver.count <= queueRefillMark || handOver.released; });
    if (handOver.released) {
        av_packet_unref(packet);
        return;
    }
    av_packet_move_ref(handOver.packets[(handOver.first + handOver.count) % queueCapacity], packet);
    ++handOver.count;
    lock.unlock();
    handOver.changed.notify_all();
}

// Reads until the stream ends, an error, or the run lets go (0).
int readPackets(CaptureHandOver &handOver, AVFormatContext *input, AVPacket *packet)
{
    while (!isReleased(handOver)) {
        const int result = av_read_frame(input, packet);
        if (result == AVERROR(EAGAIN)) {
            std::unique_lock<std::mutex> lock(handOver.mutex);
            handOver.changed.wait_for(lock, readRetryDelay, [&] { return handOver.released; });
        } else if (result < 0) {
            return result;
        } else {
            queuePacket(handOver, packet);
        }
    }
    return 0;
}

// The capture thread: opens the device, hands it to the run for its set-up,
// reads it, and closes it, whenever the device lets it.
void runCapture(std::shared_ptr<CaptureHandOver> handOver, const AVInputFormat *format, std::string url,
                AVDictionary *options)
{
    AVFormatContext *input = avformat_alloc_context();
    AVPacket *packet = av_packet_alloc();
    int result = input && packet ? 0 : AVERROR(ENOMEM);
    if (result == 0) {
        input->interrupt_callback = {interruptWhenReleased, handOver.get()};
        result = avformat_open_input(&input, url.c_str(), format, &options);
    }
    av_dict_free(&options);
    finishStep(*handOver, CaptureStep::Open, result, nullptr);
    if (result >= 0 && !isReleased(*handOver)) {
        result = avformat_find_stream_info(input, nullptr);
        finishStep(*handOver, CaptureStep::FindStreamInfo, result, result >= 0 ? input : nullptr);
    }
    if (result >= 0 && waitForReading(*handOver))
        result = readPackets(*handOver, input, packet);
    avformat_close_input(&input);
    av_packet_free(&packet);
    {
        std::lock_guard<std::mutex> lock(handOver->mutex);
        handOver->readResult = result < 0 ? result : AVERROR_EOF;
        handOver->finished = true;
    }
    handOver->changed.notify_all();
}

} // namespace

CaptureReader::~CaptureReader()
{
    if (!m_thread.joinable())
        return;
    CaptureHandOver &handOver = *m_handOver;
    std::unique_lock<std::mutex> lock(handOver.mutex);
    handOver.released = true;
    handOver.changed.notify_all();
    const Clock::time_point latest = Clock::now() + longestReleaseWait;
    while (!handOver.finished) {
        const Clock::time_point deadline = std::min(handOver.lastDelivery + stalledAfter, latest);
        if (Clock::now() >= deadline)
            break;
        handOver.changed.wait_until(lock, deadline);
    }
    const bool finished = handOver.finished;
    lock.unlock();
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
}

int CaptureReader::start(const AVInputFormat *format, const std::string &url, AVDictionary *options)
{
    m_handOver = std::make_shared<CaptureHandOver>();
    for (AVPacket *&packet : m_handOver->packets) {
        packet = av_packet_alloc();
        if (!packet) {
            av_dict_free(&options);
            return AVERROR(ENOMEM);
        }
    }
    try {
        m_thread = std::thread(runCapture, m_handOver, format, url, options);
    } catch (const std::system_error &error) {
        av_dict_free(&options);
        return AVERROR(error.code().value());
    }
    return 0;
}

std::optional<int> CaptureReader::waitForStep(CaptureStep step, int waitMs)
{
    CaptureHandOver &handOver = *m_handOver;
    const std::optional<int> &result = handOver.stepResults[std::size_t(step)];
    std::unique_lock<std::mutex> lock(handOver.mutex);
    handOver.changed.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return result.has_value(); });
    return result;
}

AVFormatContext *CaptureReader::input() const
{
    std::lock_guard<std::mutex> lock(m_handOver->mutex);
    return m_handOver->input;
}

void CaptureReader::startReading()
{
    {
        std::lock_guard<std::mutex> lock(m_handOver->mutex);
        m_handOver->reading = true;
    }
    m_handOver->changed.notify_all();
}

int CaptureReader::nextPacket(AVPacket *packet, int waitMs)
{
    CaptureHandOver &handOver = *m_handOver;
    std::unique_lock<std::mutex> lock(handOver.mutex);
    handOver.changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [&] { return handOver.count > 0 || handOver.finished; });
    if (handOver.count == 0)
        return handOver.finished ? handOver.readResult : AVERROR(EAGAIN);
    av_packet_move_ref(packet, handOver.packets[handOver.first]);
    handOver.first = (handOver.first + 1) % queueCapacity;
    --handOver.count;
    const bool refill = handOver.count == queueRefillMark;
    lock.unlock();
    if (refill)
        handOver.changed.notify_all();
    return 0;
}
