#include "engine/player.h"
#include "models/logsmodel.h"

#include "debugcapture.h"
#include "icecastproxy.h"
#include "icecastserver.h"
#include "playerharness.h"
#include "requestrecorder.h"
#include "streamsettings.h"
#include "testcertificate.h"
#include "waituntil.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// A stop must end a reconnecting run within 200 ms; the rest is this shared machine's noise.
constexpr int stopBoundMs = 400;
const QString failedTry = QStringLiteral(" to reconnect failed");

qint64 stopAndWaitForOff(Player &player)
{
    QElapsedTimer clock;
    clock.start();
    player.togglePlayPause(QVariantMap());
    return waitForStatus(player, Off, 10000) ? clock.elapsed() : -1;
}

} // namespace

// The connection of a source to its server: HTTPS that verifies the server
// before it sends a byte, and reconnecting after a loss.
class TestSourceConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void streamsToAServerTrustedThroughTheFile();
    void refusedStartsAreNotRetried_data();
    void refusedStartsAreNotRetried();
    void comesBackWithTheServer_data();
    void comesBackWithTheServer();
    void stopEndsAReconnectingRunAtOnce_data();
    void stopEndsAReconnectingRunAtOnce();
    void runsAndLossesLeaveNothingBehind();

private:
    // The paced tone to a mount of the test's own at 320k, which fills FFmpeg's
    // 32 KiB output buffer often: a lost connection shows soon.
    QVariantMap settings(const IcecastServer &server, quint16 port) const;
    // The same over HTTPS, to the TLS server's host name.
    QVariantMap httpsSettings(const QString &certificateFile, quint16 port) const;

    TestCertificate localhost;
    TestCertificate elsewhere;
    IcecastServer icecast;
    IcecastServer tlsIcecast;
    QTemporaryDir scratch;
    std::unique_ptr<LogsModel> log;
    QString mount;
    int mountNumber = 0;
};

void TestSourceConnection::initTestCase()
{
    QVERIFY2(localhost.generate(QStringLiteral("localhost")), qPrintable(localhost.errorString()));
    QVERIFY2(elsewhere.generate(QStringLiteral("elsewhere.invalid")), qPrintable(elsewhere.errorString()));
    QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
    tlsIcecast.setTlsCertificate(localhost);
    tlsIcecast.setSourcePassword(awkwardPassword);
    QVERIFY2(tlsIcecast.start(), qPrintable(tlsIcecast.errorString()));
    QFile notPem(scratch.filePath(QStringLiteral("not-a-certificate.pem")));
    QVERIFY(notPem.open(QIODevice::WriteOnly));
    notPem.write("This is not a certificate.\n");
    captureDebugOutput();
}

void TestSourceConnection::init()
{
    // A mount of its own for each test: the server frees a lost one late.
    mount = QStringLiteral("live%1").arg(++mountNumber);
    capturedDebugOutput().clear();
    log = std::make_unique<LogsModel>();
}

void TestSourceConnection::cleanup()
{
    QVERIFY(!showsThePassword(*log));
    log.reset();
}

QVariantMap TestSourceConnection::settings(const IcecastServer &server, quint16 port) const
{
    return withStream(streamSettings(server, pacedSine, mount, 44100, QStringLiteral("320k")),
                      {{QStringLiteral("port"), port}, {QStringLiteral("reconnect"), true}});
}

QVariantMap TestSourceConnection::httpsSettings(const QString &certificateFile, quint16 port) const
{
    return withStream(settings(tlsIcecast, port), {{QStringLiteral("protocol"), QStringLiteral("HTTPS")},
                                                   {QStringLiteral("certificateFile"), certificateFile}});
}

void TestSourceConnection::streamsToAServerTrustedThroughTheFile()
{
    Player player;
    player.setCaptureBackend(lavfi);
    player.togglePlayPause(httpsSettings(localhost.certificateFile(), tlsIcecast.port()));
    QVERIFY2(waitForStatus(player, OnAir), qPrintable(player.errorText()));
    QCOMPARE(listenerView(tlsIcecast, QLatin1Char('/') + mount), expectedListenerView(44100, 320000));

    QVERIFY(stopAndWaitForOff(player) >= 0);
}

void TestSourceConnection::refusedStartsAreNotRetried_data()
{
    QTest::addColumn<QString>("served");
    QTest::addColumn<QString>("certificateFile");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("stopped");
    QTest::addColumn<int>("connections");

    const QString unverified = QStringLiteral("Peer certificate failed verification");
    const QString failedIo = QStringLiteral("Input/output error");
    const QString unauthorized = QStringLiteral("Server returned 401 Unauthorized (authorization failed)");
    const QString missing = QStringLiteral("No such file or directory");
    const QString notPem = QStringLiteral("Invalid data found when processing input");
    QTest::newRow("plain, 401") << QString() << QString() << unauthorized << unauthorized << 1;
    QTest::newRow("self-signed") << QStringLiteral("localhost") << QString() << unverified << failedIo << 1;
    QTest::newRow("the file trusts another certificate")
        << QStringLiteral("localhost") << elsewhere.certificateFile() << unverified << failedIo << 1;
    QTest::newRow("trusted, for another host name")
        << QStringLiteral("elsewhere") << elsewhere.certificateFile()
        << QStringLiteral("The certificate's owner does not match hostname localhost") << failedIo << 1;
    QTest::newRow("missing certificate file")
        << QStringLiteral("localhost") << scratch.filePath(QStringLiteral("missing.pem")) << missing << missing << 0;
    QTest::newRow("certificate file not PEM")
        << QStringLiteral("localhost") << scratch.filePath(QStringLiteral("not-a-certificate.pem")) << notPem << notPem
        << 0;
}

void TestSourceConnection::refusedStartsAreNotRetried()
{
    QFETCH(QString, served);
    QFETCH(QString, certificateFile);
    QFETCH(QString, reason);
    QFETCH(QString, stopped);
    QFETCH(int, connections);

    // Our own server, with the certificate of the row; it answers 401 to a
    // request that it receives in full.
    const TestCertificate *certificate = nullptr;
    if (!served.isEmpty())
        certificate = served == QLatin1String("localhost") ? &localhost : &elsewhere;
    RequestRecorder server;
    QVERIFY(server.start(certificate));
    Player player;
    PlayerRecorder recorder(player);
    player.setCaptureBackend(lavfi);
    player.togglePlayPause(certificate ? httpsSettings(certificateFile, server.serverPort())
                                       : settings(icecast, server.serverPort()));
    QVERIFY(waitUntil(runTimeoutMs, [&] { return recorder.runsEnded == 1; }));

    QCOMPARE(player.status(), int(Error));
    const QString output = QStringLiteral("Could not open output icecast://source:****@%1:%2/%3")
                               .arg(certificate ? tlsIcecast.host() : icecast.host())
                               .arg(server.serverPort())
                               .arg(mount);
    QCOMPARE(player.errorText(), connections == 0 ? QStringLiteral("Could not load certificate file %1 (error %2)")
                                                        .arg(certificateFile, reason)
                                                  : output);
    // Longer than the wait before the first try again.
    QTest::qWait(2500);
    const QStringList lines = logLines(*log);
    QVERIFY2(!lines.filter(reason).isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(lines.filter(QStringLiteral("Streaming stopped: ")), QStringList{QStringLiteral("Streaming stopped: ") + stopped});
    QVERIFY(lines.filter(QStringLiteral("reconnect"), Qt::CaseInsensitive).isEmpty());
    QCOMPARE(server.connections(), connections);
    // Over TLS the client may finish the handshake; it checks the certificate
    // before it sends a byte of its own.
    if (certificate) {
        QVERIFY(waitUntil(5000, [&] { return server.closedConnections() == connections; }));
        QCOMPARE(server.received(), QByteArray());
    }
}

void TestSourceConnection::comesBackWithTheServer_data()
{
    QTest::addColumn<bool>("downAtStart");
    QTest::addColumn<QString>("cause");

    QTest::newRow("lost on the air") << false << QStringLiteral("Connection lost");
    QTest::newRow("down at the start") << true << QStringLiteral("Could not connect");
}

void TestSourceConnection::comesBackWithTheServer()
{
    QFETCH(bool, downAtStart);
    QFETCH(QString, cause);

    IcecastServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Player player;
    player.setCaptureBackend(lavfi);
    PlayerRecorder recorder(player);
    if (downAtStart)
        server.stop();
    player.togglePlayPause(settings(server, server.port()));
    if (!downAtStart) {
        QVERIFY2(waitForStatus(player, OnAir), qPrintable(player.errorText()));
        server.stop();
    }

    // Two failed tries, a second and then two seconds after the loss, with a
    // countdown to each. The try itself is too short to be seen.
    QVERIFY2(waitUntil(15000, [&] {
                 return recorder.progressTexts.contains(cause + QStringLiteral(", reconnecting in 4 s (try 3)"))
                     && logLines(*log).filter(failedTry).size() == 2;
             }),
             qPrintable(recorder.progressTexts.join(QLatin1Char('|'))));
    QVERIFY(recorder.progressTexts.contains(cause + QStringLiteral(", reconnecting in 2 s (try 2)")));
    QVERIFY(recorder.progressTexts.contains(cause + QStringLiteral(", reconnecting in 1 s (try 2)")));
    QCOMPARE(player.status(), int(Changing));
    QVERIFY(player.isPlaying());
    const QStringList lines = logLines(*log);
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^%1 \\(error .+\\)$").arg(cause))).size(), 1);
    QCOMPARE(lines.filter(failedTry), QStringList({QStringLiteral("Try 1 to reconnect failed (error Connection refused)"),
                                                   QStringLiteral("Try 2 to reconnect failed (error Connection refused)")}));
    QVERIFY(lines.filter(QStringLiteral("Streaming stopped")).isEmpty());

    // Back on the air at the first try after the server is.
    const double elapsedBefore = player.elapsed();
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const int failedTries = logLines(*log).filter(failedTry).size();
    QVERIFY2(waitForStatus(player, OnAir), qPrintable(logTail(*log)));
    QCOMPARE(logLines(*log).filter(QStringLiteral("Reconnected on try ")),
             QStringList{QStringLiteral("Reconnected on try %1").arg(failedTries + 1)});
    QVERIFY(player.progressText().isEmpty());
    QCOMPARE(listenerView(server, QLatin1Char('/') + mount), expectedListenerView(44100, 320000));
    // The elapsed time counts the whole run.
    QVERIFY(elapsedBefore > 2.0);
    QVERIFY(player.elapsed() > elapsedBefore);

    QVERIFY(stopAndWaitForOff(player) >= 0);
    QVERIFY(player.errorText().isEmpty());
}

void TestSourceConnection::stopEndsAReconnectingRunAtOnce_data()
{
    QTest::addColumn<bool>("duringATry");
    QTest::newRow("waiting for the next try") << false;
    QTest::newRow("during a verified try") << true;
}

void TestSourceConnection::stopEndsAReconnectingRunAtOnce()
{
    QFETCH(bool, duringATry);

    Player player;
    player.setCaptureBackend(lavfi);
    IcecastProxy proxy;
    QTcpServer silent;
    if (duringATry) {
        // Refused at the start, then a server that takes the try and never answers.
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const quint16 port = silent.serverPort();
        silent.close();
        player.togglePlayPause(httpsSettings(QString(), port));
        QVERIFY(waitUntil(runTimeoutMs, [&] {
            return logLines(*log).contains(QStringLiteral("Could not connect (error Connection refused)"));
        }));
        QVERIFY(silent.listen(QHostAddress::LocalHost, port));
        QVERIFY(waitUntil(5000, [&] { return silent.hasPendingConnections(); }));
        QCOMPARE(player.progressText(), QStringLiteral("Reconnecting (try 1)"));
    } else {
        // Lost, and refused at each try: the door is closed.
        QVERIFY(proxy.listen(icecast.port()));
        player.togglePlayPause(settings(icecast, proxy.port()));
        QVERIFY2(waitForStatus(player, OnAir), qPrintable(player.errorText()));
        proxy.closeDoor();
        proxy.dropConnections();
        QVERIFY(waitUntil(15000, [&] { return player.progressText().contains(QStringLiteral("in 2 s (try 2)")); }));
    }
    const int tries = logLines(*log).filter(failedTry).size();

    const qint64 stopMs = stopAndWaitForOff(player);
    qInfo("Stopped in %lld ms", stopMs);
    QVERIFY2(stopMs >= 0 && stopMs < stopBoundMs, qPrintable(QString::number(stopMs)));
    QVERIFY(player.errorText().isEmpty());
    QTest::qWait(2500);
    QCOMPARE(logLines(*log).filter(failedTry).size(), tries);
}

void TestSourceConnection::runsAndLossesLeaveNothingBehind()
{
    IcecastProxy proxy;
    QVERIFY(proxy.listen(icecast.port()));
    Player player;
    player.setCaptureBackend(lavfi);
    int firstFiles = 0;
    int firstThreads = 0;
    for (int run = 1; run <= 10; ++run) {
        player.togglePlayPause(settings(icecast, proxy.port()));
        QVERIFY2(waitForStatus(player, OnAir), qPrintable(logTail(*log)));
        proxy.dropConnections();
        QVERIFY2(waitUntil(runTimeoutMs, [&] {
                     return player.status() == OnAir
                         && logLines(*log).filter(QStringLiteral("Reconnected on try ")).size() == run;
                 }),
                 qPrintable(QStringLiteral("run %1: ").arg(run) + logTail(*log)));
        QVERIFY(stopAndWaitForOff(player) >= 0);
        QVERIFY(waitUntil(10000, [&] { return icecast.mountStatus(QLatin1Char('/') + mount).isEmpty(); }));
        if (run == 1) {
            firstFiles = openFileCount();
            firstThreads = threadNames().size();
        }
    }
    QVERIFY2(waitUntil(5000, [&] { return openFileCount() <= firstFiles && threadNames().size() <= firstThreads; }),
             qPrintable(QStringLiteral("files %1 (first %2), threads %3 (first %4)")
                            .arg(openFileCount()).arg(firstFiles).arg(threadNames().size()).arg(firstThreads)));
}

QTEST_GUILESS_MAIN(TestSourceConnection)
#include "tst_sourceconnection.moc"
