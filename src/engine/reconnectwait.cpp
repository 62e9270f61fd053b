#include "reconnectwait.h"

#include <algorithm>

namespace {

constexpr qint64 firstWaitMs = 1000;
constexpr qint64 longestWaitMs = 30000;

} // namespace

void ReconnectWait::start()
{
    m_waitMs = firstWaitMs;
    m_try = 1;
    m_clock.start();
}

void ReconnectWait::failedTry()
{
    m_waitMs = std::min(2 * m_waitMs, longestWaitMs);
    ++m_try;
    m_clock.start();
}

bool ReconnectWait::isOver() const
{
    return m_clock.hasExpired(m_waitMs);
}

int ReconnectWait::secondsLeft() const
{
    const qint64 leftMs = std::max<qint64>(0, m_waitMs - m_clock.elapsed());
    return int((leftMs + 999) / 1000);
}

int ReconnectWait::msUntilNextSecond() const
{
    const qint64 leftMs = std::max<qint64>(0, m_waitMs - m_clock.elapsed());
    return int(leftMs == 0 ? 0 : (leftMs - 1) % 1000 + 1);
}
