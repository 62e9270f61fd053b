#pragma once

#include <QElapsedTimer>

// When a run that has lost its server connection tries it again: a second
// after the loss, then twice as long after each failed try, at most 30 s.
class ReconnectWait
{
public:
    // A loss: the first try after the shortest wait.
    void start();
    // The try failed: the next one after twice the wait.
    void failedTry();
    bool isOver() const;
    // Whole seconds until the try, rounded up.
    int secondsLeft() const;
    // Milliseconds until secondsLeft changes, or the try is due.
    int msUntilNextSecond() const;
    // The number of the coming try since the loss, from 1.
    int tryNumber() const { return m_try; }

private:
    QElapsedTimer m_clock;
    qint64 m_waitMs = 0;
    int m_try = 0;
};
