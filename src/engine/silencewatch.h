#pragma once

#include <cstdint>

// Dead air: both channels below -50 dB RMS for the chosen number of seconds.
// Counted in audio time, the samples of the measured frames, so that a loaded
// machine neither hastens nor delays the warning, and a device that delivers
// nothing (the stalled-device error's case) adds no silence.
class SilenceWatch
{
public:
    enum Event { NoEvent, WarningStarts, WarningEnds };

    // warnAfterSeconds 0 or less: never warns.
    explicit SilenceWatch(int warnAfterSeconds);

    static bool isSilent(double leftLevel, double rightLevel);

    // One measured frame of samples at sampleRate.
    Event addFrame(bool silent, int samples, int sampleRate);
    // Whole seconds of the silence while it is warned about; 0 otherwise.
    int warningSeconds() const;
    // Whole seconds of the silence that the last WarningEnds ended.
    int silenceSeconds() const;

private:
    int m_warnAfterSeconds;
    bool m_inSilence = false;
    bool m_warning = false;
    int m_sampleRate = 1;
    // From the first silent frame to the end of the last one; sound shorter
    // than a second in between belongs to the silence.
    int64_t m_silentSamples = 0;
    // Sound since the last silent frame: a second of it ends the silence.
    int64_t m_soundSamples = 0;
};
