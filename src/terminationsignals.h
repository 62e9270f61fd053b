#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into what the window's close button does: every
// top-level window is closed, so the window's closing handler stops the run
// and closes the connection, and the event loop ends with exit code 0.
// The handler only writes a byte to a socket pair (async-signal-safe); the
// windows are closed on the main thread when the notifier sees it.
// One instance per process, created after the application object.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

private:
    static void handleSignal(int signalNumber);
    void closeWindows();

    QSocketNotifier *m_notifier = nullptr;
};
