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
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        met = condition();
        if (met || deadline.hasExpired())
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return met;
}
