#include "engine/player.h"
#include "models/logsmodel.h"

#include "debugcapture.h"
#include "icecastserver.h"
#include "pulseserver.h"
#include "streamsettings.h"
#include "threadnames.h"
#include "waituntil.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

constexpr int onAirTimeoutMs = 20000;
const QString noAudio = QStringLiteral("No audio from the capture device for 10 s");
constexpr int bytesPerSecond = 128000 / 8;

enum Ending { Stop, ShutdownThenDestroy, Destroy };

} // namespace

// A capture device that stops delivering without an error: the monitor of the
// test server's null sink, suspended with pactl.
class TestCaptureStall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void endsAStalledRunPromptly_data();
    void endsAStalledRunPromptly();
    void reportsADeviceSilentForTenSeconds_data();
    void reportsADeviceSilentForTenSeconds();
    void goesOnWhenTheDeviceResumes();

private:
    QVariantMap settings() const;
    QStringList logLines() const;
    // On air with audio flowing, then the device stalls.
    void goOnAirAndStall(Player &player);
    void startAndStopCleanly(Player &player);

    IcecastServer icecast;
    PulseServer pulse;
    std::unique_ptr<LogsModel> log;
    int threadsBefore = 0;
};

void TestCaptureStall::initTestCase()
{
    QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
    pulse.addDesktopSource();
    QVERIFY2(pulse.start(), qPrintable(pulse.errorString()));
    captureDebugOutput();
}

void TestCaptureStall::init()
{
    QVERIFY(waitUntil(10000, [this] { return icecast.mountStatus(QStringLiteral("/live")).isEmpty(); }));
    capturedDebugOutput().clear();
    log = std::make_unique<LogsModel>();
    threadsBefore = threadNames().size();
}

void TestCaptureStall::cleanup()
{
    // A capture thread left blocked in the device ends once it delivers again.
    QVERIFY(pulse.setDesktopSourceSuspended(false));
    QVERIFY2(waitUntil(5000, [this] { return threadNames().size() <= threadsBefore; }),
             qPrintable(threadNames().join(QLatin1Char(','))));
    log.reset();
}

QVariantMap TestCaptureStall::settings() const
{
    return streamSettings(icecast, pulse.desktopSourceName(), QStringLiteral("live"));
}

QStringList TestCaptureStall::logLines() const
{
    return log->data(log->index(0, 0)).toString().split(QLatin1Char('\n'));
}

void TestCaptureStall::goOnAirAndStall(Player &player)
{
    player.togglePlayPause(settings());
    QVERIFY2(waitUntil(onAirTimeoutMs, [&] { return player.status() == OnAir && player.elapsed() > 0.0; }),
             qPrintable(player.errorText()));
    QVERIFY(pulse.setDesktopSourceSuspended(true));
    QTest::qWait(1000);
    const double stalledAt = player.elapsed();
    QTest::qWait(500);
    QCOMPARE(player.elapsed(), stalledAt);
}

void TestCaptureStall::startAndStopCleanly(Player &player)
{
    player.togglePlayPause(settings());
    QVERIFY2(waitUntil(onAirTimeoutMs, [&] { return player.status() == OnAir && player.elapsed() > 0.0; }),
             qPrintable(player.errorText()));
    player.togglePlayPause(settings());
    QVERIFY(waitUntil(5000, [&] { return player.status() == Off; }));
}

void TestCaptureStall::endsAStalledRunPromptly_data()
{
    QTest::addColumn<int>("ending");
    QTest::newRow("stop") << int(Stop);
    QTest::newRow("shutdown, then destroy") << int(ShutdownThenDestroy);
    QTest::newRow("destroy") << int(Destroy);
}

void TestCaptureStall::endsAStalledRunPromptly()
{
    QFETCH(int, ending);

    auto player = std::make_unique<Player>();
    goOnAirAndStall(*player);
    if (QTest::currentTestFailed())
        return;

    QElapsedTimer clock;
    clock.start();
    if (ending == Stop) {
        player->togglePlayPause(settings());
        QVERIFY(waitUntil(5000, [&] { return player->status() == Off; }));
        QVERIFY2(clock.elapsed() <= 500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(player->errorText().isEmpty());
    }
    if (ending == ShutdownThenDestroy) {
        player->shutdown();
        QVERIFY2(clock.elapsed() <= 2200, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(player->status(), int(Off));
        clock.restart();
    }
    if (ending != Stop) {
        player.reset();
        QVERIFY2(clock.elapsed() <= 2000, qPrintable(QString::number(clock.elapsed())));
        player = std::make_unique<Player>();
    }
    // Closed by the run, well before the server's own time-out for a silent source.
    QVERIFY(waitUntil(2000, [this] { return icecast.mountStatus(QStringLiteral("/live")).isEmpty(); }));
    if (ending != Destroy) // which interrupts the flush's last write
        QVERIFY(logLines().filter(QStringLiteral("Streaming stopped")).isEmpty());

    QVERIFY(pulse.setDesktopSourceSuspended(false));
    startAndStopCleanly(*player);
}

void TestCaptureStall::reportsADeviceSilentForTenSeconds_data()
{
    QTest::addColumn<bool>("stalledBeforeStart");
    QTest::newRow("on air") << false;
    QTest::newRow("while opening") << true;
}

void TestCaptureStall::reportsADeviceSilentForTenSeconds()
{
    QFETCH(bool, stalledBeforeStart);

    Player player;
    int runsEnded = 0;
    QList<int> statuses;
    connect(&player, &Player::hasShutdown, this, [&] { ++runsEnded; }, Qt::QueuedConnection);
    connect(&player, &Player::dataChanged, this, [&] { statuses << player.status(); }, Qt::QueuedConnection);
    QElapsedTimer stalled;
    if (stalledBeforeStart) {
        QVERIFY(pulse.setDesktopSourceSuspended(true));
        stalled.start();
        player.togglePlayPause(settings());
    } else {
        goOnAirAndStall(player);
        if (QTest::currentTestFailed())
            return;
        stalled.start();
    }

    QVERIFY(waitUntil(20000, [&] { return runsEnded == 1; }));
    // Counted from the last packet, which came a little before the stall.
    QVERIFY2(stalled.elapsed() >= 8000, qPrintable(QString::number(stalled.elapsed())));
    QCOMPARE(player.status(), int(Error));
    QCOMPARE(player.errorText(), noAudio);
    QCOMPARE(statuses.contains(OnAir), !stalledBeforeStart);
    const QStringList lines = logLines();
    const int reported = lines.indexOf(noAudio);
    QVERIFY2(reported >= 0, qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(lines.mid(reported + 1).filter(QStringLiteral("Streaming stopped")),
             QStringList{QStringLiteral("Streaming stopped: Input/output error")});
    QVERIFY(lines.filter(QStringLiteral("Error occurred")).isEmpty());
    QVERIFY(waitUntil(5000, [this] { return icecast.mountStatus(QStringLiteral("/live")).isEmpty(); }));

    QVERIFY(pulse.setDesktopSourceSuspended(false));
    startAndStopCleanly(player);
}

void TestCaptureStall::goesOnWhenTheDeviceResumes()
{
    Player player;
    QList<int> statuses;
    connect(&player, &Player::dataChanged, this, [&] { statuses << player.status(); }, Qt::QueuedConnection);
    goOnAirAndStall(player);
    QTcpSocket listener;
    listener.connectToHost(icecast.host(), icecast.port());
    QVERIFY(listener.waitForConnected(5000));
    listener.write("GET /live HTTP/1.0\r\n\r\n");
    QTest::qWait(1500);
    const double stalledAt = player.elapsed();
    // The reply's header, and whatever the server had queued before the stall.
    listener.readAll();

    QVERIFY(pulse.setDesktopSourceSuspended(false));
    qint64 received = 0;
    QVERIFY2(waitUntil(5000, [&] {
                 received += listener.readAll().size();
                 return received >= 2 * bytesPerSecond;
             }),
             qPrintable(QString::number(received)));
    QCOMPARE(player.status(), int(OnAir));
    QVERIFY(player.elapsed() > stalledAt);

    player.togglePlayPause(settings());
    QVERIFY(waitUntil(5000, [&] { return player.status() == Off; }));
    QVERIFY(!statuses.contains(Error));
    QVERIFY(player.errorText().isEmpty());
}

QTEST_GUILESS_MAIN(TestCaptureStall)
#include "tst_capturestall.moc"
