#pragma once

#include <QString>

// The Icecast source URL. User and password are percent-encoded: FFmpeg splits
// the URL at "/" and "@", and decodes both before it authenticates.
QString icecastUrl(const QString &user, const QString &password, const QString &hostname, int port,
                   const QString &mount);

// Where a Shoutcast source connects: the port above the server's, over TCP.
QString shoutcastUrl(const QString &hostname, int port);

// The same address for FFmpeg's https protocol, through which verified source
// connections are opened.
QString withHttpsScheme(const QString &icecastUrl);

// The URL as it may be shown: the password replaced by "****".
QString withHiddenPassword(const QString &icecastUrl);
