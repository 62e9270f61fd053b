#include "silencewatch.h"

namespace {

constexpr double silenceLevel = -50.0;

} // namespace

SilenceWatch::SilenceWatch(int warnAfterSeconds)
    : m_warnAfterSeconds(warnAfterSeconds)
{
}

bool SilenceWatch::isSilent(double leftLevel, double rightLevel)
{
    // astats gives -inf for digital silence.
    return leftLevel < silenceLevel && rightLevel < silenceLevel;
}

SilenceWatch::Event SilenceWatch::addFrame(bool silent, int samples, int sampleRate)
{
    if (m_warnAfterSeconds <= 0 || sampleRate <= 0)
        return NoEvent;
    m_sampleRate = sampleRate;
    if (silent) {
        if (!m_inSilence) {
            m_inSilence = true;
            m_silentSamples = 0;
        }
        m_silentSamples += m_soundSamples + samples;
        m_soundSamples = 0;
        if (!m_warning && m_silentSamples >= int64_t(m_warnAfterSeconds) * sampleRate) {
            m_warning = true;
            return WarningStarts;
        }
        return NoEvent;
    }
    if (!m_inSilence)
        return NoEvent;
    m_soundSamples += samples;
    if (m_soundSamples < sampleRate)
        return NoEvent;
    const bool warned = m_warning;
    m_inSilence = false;
    m_warning = false;
    m_soundSamples = 0;
    return warned ? WarningEnds : NoEvent;
}

int SilenceWatch::warningSeconds() const
{
    return m_warning ? silenceSeconds() : 0;
}

int SilenceWatch::silenceSeconds() const
{
    return int(m_silentSamples / m_sampleRate);
}
