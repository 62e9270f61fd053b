#pragma once

#include "serverprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A private PulseAudio server with its own runtime folder and a sine source,
// a real capture device for the tests. start() points this process's
// PulseAudio clients (FFmpeg's pulse input) at it.
class PulseServer
{
public:
    QString sourceName() const { return QStringLiteral("tone"); }
    // Before start(): also a device that behaves like a desktop one, a sine
    // played into the null sink "out" and captured from its monitor (stereo,
    // delivered about every 50 ms, where "tone" delivers every 2 s).
    void addDesktopSource() { m_desktopSource = true; }
    QString desktopSourceName() const { return QStringLiteral("out.monitor"); }

    bool start();
    QString errorString() const { return m_process.errorString(); }

    // The source names that pactl lists; empty when the server does not answer.
    QStringList sources() const;
    // Suspends or resumes the null sink "out", and so the desktop source:
    // suspended, it delivers nothing and reports no error.
    bool setDesktopSourceSuspended(bool suspended) const;
    // Mutes or unmutes the desktop source's tone: muted, the source goes on
    // delivering, digital silence.
    bool setDesktopToneMuted(bool muted) const;

private:
    QString socketPath() const { return m_process.folder() + QStringLiteral("/native"); }
    // Runs pactl against this server; its standard output, or nothing on failure.
    std::optional<QByteArray> pactl(const QStringList &arguments) const;

    mutable ServerProcess m_process;
    bool m_desktopSource = false;
};
