#include "waituntil.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

bool waitUntil(int timeoutMs, const std::function<bool()> &condition)
{
    if (condition())
        return true;
    // The answer is the last evaluation's: a condition that asks a server
    // need not give the same answer twice in a row.
    bool met = false;
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    // The timer rests while the condition runs: a condition that waits in an
    // event loop of its own would otherwise be asked again inside itself, and
    // the outer evaluation's answer would overwrite the inner one's.
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        poll.stop();
        met = condition();
        if (met || deadline.hasExpired())
            loop.quit();
        else
            poll.start();
    });
    poll.start(5);
    loop.exec();
    return met;
}
