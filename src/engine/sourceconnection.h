#pragma once

extern "C" {
struct AVIOContext;
}

struct StreamContext;

// Opens a stream's connection to the server as a source, for writing, and
// reports a failure (see reportConnectionFailure). With "https" the Icecast
// server's certificate chain and host name are verified before anything of the
// request is sent; with "shoutcast" the source goes through the Shoutcast
// handshake on the server's port + 1. Returns 0 or a negative FFmpeg error code.
int openSourceConnection(StreamContext &context, AVIOContext **connection);
