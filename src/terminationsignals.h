#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a signal on the main thread, on which the
// program ends as its window's close button (or --quit) ends it: the run
// stopped, the connection closed, exit code 0. The handler only writes a byte
// to a socket pair (async-signal-safe); the notifier reads it on the main
// thread. One instance per process, created after the application object.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received();

private:
    static void handleSignal(int signalNumber);
    void takeSignals();

    QSocketNotifier *m_notifier = nullptr;
};
