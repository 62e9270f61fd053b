#pragma once

extern "C" {
struct AVIOContext;
}

class Player;

// Opens the player's connection to the Icecast server as a source, for
// writing, and reports a failure. With "https" the server's certificate chain
// and host name are verified before anything of the request is sent. Returns
// 0 or a negative FFmpeg error code.
int openSourceConnection(Player &player, AVIOContext **connection);
