#pragma once

class QCoreApplication;

// The station without a window: the stored settings' run on the air at once,
// reconnecting and recording as stored, its log on standard error, answering
// the commands of scripts, and ending on SIGTERM, SIGINT or --quit with the
// run stopped and the recording closed. It needs no display and no Qt Quick.
// The exit code: 0, or 1 when the run ended in an error it does not retry.
int runHeadless(QCoreApplication &application);
