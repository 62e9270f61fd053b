#pragma once

#include "serverprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A private PulseAudio server with its own runtime folder and two real capture
// devices for the tests: a sine source, and the monitor of a null sink that a
// sine is played into, which delivers like a desktop's device. start() points
// this process's PulseAudio clients (FFmpeg's pulse input) at it.
class PulseServer
{
public:
    static constexpr int sineRate = 48000;
    static constexpr int sineFrequency = 440;

    QString sourceName() const { return QStringLiteral("tone"); }
    QString monitorSourceName() const { return QStringLiteral("out.monitor"); }
    QString serverAddress() const;

    bool start();
    void stop();
    QString errorString() const { return m_process.errorString(); }

    // The source names that pactl lists; empty when the server does not answer.
    QStringList sources() const;
    // Suspends or resumes the null sink, and so its monitor: suspended, the
    // monitor delivers nothing and reports no error.
    bool setOutputSuspended(bool suspended) const;

private:
    QString socketPath() const;
    // Runs pactl against this server; its standard output, or nothing on failure.
    std::optional<QByteArray> pactl(const QStringList &arguments) const;

    mutable ServerProcess m_process;
};
