#include "player.h"
#include "sendqueue.h"
#include "streamcontext.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>

namespace {

// A connection that could not be made for a reason that may pass: the server
// or the network is down or restarting, or the server still holds the mount
// for the source it has just lost (403). A refused user or password (401)
// does not pass. FFmpeg's TLS layer reports a certificate that fails
// verification as EIO, so with TLS that code is never tried again; without TLS
// it is a host name that did not resolve, as while a router restarts.
bool mayPassOnConnect(int code, bool verified)
{
    switch (code) {
    case AVERROR(ECONNREFUSED):
    case AVERROR(ECONNRESET):
    case AVERROR(ECONNABORTED):
    case AVERROR(EPIPE):
    case AVERROR(ENETDOWN):
    case AVERROR(ENETUNREACH):
    case AVERROR(EHOSTUNREACH):
    case AVERROR(ETIMEDOUT):
    case AVERROR_EOF:
    case AVERROR_HTTP_FORBIDDEN:
    case AVERROR_HTTP_SERVER_ERROR:
        return true;
    case AVERROR(EIO):
        return !verified;
    default:
        return false;
    }
}

} // namespace

void reportConnectionFailure(StreamContext &context, ConnectionStep step, const QString &message, int code)
{
    Player &player = *context.owner;
    if (context.reconnecting && player.isStopRequested())
        return;
    // Once connected, any failed write is a lost connection, except the
    // interruption of a Player being destroyed.
    const bool mayPass = step == ConnectionStep::Send
        ? code != AVERROR_EXIT
        : mayPassOnConnect(code, context.settings.protocol == QLatin1String("https"));
    if (context.reconnects && mayPass) {
        context.passingFailure = code;
        return;
    }
    player.reportStreamError(context.index, message);
}

int interruptStream(void *context)
{
    // Only the stream's sender runs the calls that ask, so its own fields need no lock.
    const StreamContext &stream = *static_cast<const StreamContext *>(context);
    const Player &owner = *stream.owner;
    return owner.isBeingDestroyed() || stream.queue->interruptsSender()
            || (stream.connecting && owner.isStopRequested())
        ? 1
        : 0;
}
