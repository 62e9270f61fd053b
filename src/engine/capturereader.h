#pragma once

extern "C" {
#include <libavutil/error.h>
}

#include <memory>
#include <optional>
#include <string>
#include <thread>

struct AVDictionary;
struct AVFormatContext;
struct AVInputFormat;
struct AVPacket;
struct CaptureHandOver;

// How long the run waits on the capture thread at a time, before it looks at
// the Player again: a device that delivers nothing cannot hold up a stop.
constexpr int captureWaitMs = 100;
// A capture device that delivers nothing for this long ends the run.
constexpr int captureSilenceLimitMs = 10000;
// The code for that end; FFmpeg never returns it.
constexpr int captureSilentError = FFERRTAG('S', 'I', 'L', 'T');

// The steps of opening the device, in order.
enum class CaptureStep { Open, FindStreamInfo };

// Owns the capture device and does every blocking call on it on a thread of
// its own. FFmpeg's pulse and dshow inputs wait for audio without a time limit
// and without looking at the interrupt callback, so the run must never be the
// thread that waits in them: it waits here, a bounded time at a time. The
// thread never touches the Player, which may be gone before the device
// answers.
class CaptureReader
{
public:
    CaptureReader() = default;
    // Lets go of the device, and waits for the thread to close it while the
    // device still delivers. A thread blocked in a device that stalled is not
    // waited for: it closes the device and ends on its own once that returns.
    ~CaptureReader();

    CaptureReader(const CaptureReader &) = delete;
    CaptureReader &operator=(const CaptureReader &) = delete;

    // Starts the thread, which opens url with format and options (freed here
    // or there), then reads the stream information. 0, or a negative code.
    int start(const AVInputFormat *format, const std::string &url, AVDictionary *options);
    // The result of a step, or nothing while the device has not answered
    // within waitMs.
    std::optional<int> waitForStep(CaptureStep step, int waitMs);
    // The open device, once both steps succeeded. The caller may look at it
    // until startReading.
    AVFormatContext *input() const;

    // From here on only the thread touches the input.
    void startReading();
    // Moves the next packet into packet: 0. AVERROR(EAGAIN) when none came
    // within waitMs. Once the packets are taken and the thread has stopped
    // reading, the code that stopped it (AVERROR_EOF at the end of the stream).
    int nextPacket(AVPacket *packet, int waitMs);

private:
    std::shared_ptr<CaptureHandOver> m_handOver;
    std::thread m_thread;
};
