#include "pulseserver.h"

#include <QtTest>

class TestPulseServer : public QObject
{
    Q_OBJECT

private slots:
    void offersTheSineSource();
    void stopsWithItsOwner();
};

void TestPulseServer::offersTheSineSource()
{
    PulseServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(server.sources().contains(server.sourceName()));
    QCOMPARE(qgetenv("PULSE_SERVER"), server.serverAddress().toUtf8());
}

void TestPulseServer::stopsWithItsOwner()
{
    QString address;
    QStringList sourcesAfterStop;
    {
        PulseServer server;
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        address = server.serverAddress();
        server.stop();
        sourcesAfterStop = server.sources();
    }
    QVERIFY(sourcesAfterStop.isEmpty());
    QVERIFY(qgetenv("PULSE_SERVER").isEmpty());
}

QTEST_GUILESS_MAIN(TestPulseServer)
#include "tst_pulseserver.moc"
