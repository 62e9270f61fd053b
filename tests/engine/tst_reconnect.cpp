#include "engine/player.h"
#include "models/logsmodel.h"

#include "icecastproxy.h"
#include "icecastserver.h"
#include "mediaprobe.h"
#include "streamsettings.h"
#include "testcertificate.h"
#include "threadnames.h"
#include "waituntil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <memory>

namespace {

constexpr int onAirTimeoutMs = 20000;
// A stop must end a waiting run within 200 ms; the rest is this shared machine's noise.
constexpr int stopBoundMs = 400;
const QString pacedSine = QStringLiteral("sine=frequency=1000:sample_rate=48000,arealtime");

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

QString residentMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return QString();
    const QStringList lines = QString::fromLatin1(status.readAll()).split(QLatin1Char('\n'));
    return lines.filter(QStringLiteral("VmRSS")).value(0).simplified();
}

// Every distinct progress text that the window would have read.
class ProgressRecorder : public QObject
{
public:
    explicit ProgressRecorder(Player &observed)
    {
        connect(&observed, &Player::dataChanged, this, [this, &observed] {
            const QString text = observed.progressText();
            if (texts.isEmpty() || texts.constLast() != text)
                texts.append(text);
        }, Qt::QueuedConnection);
    }

    QStringList texts;
};

} // namespace

class TestReconnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void comesBackWithTheServer_data();
    void comesBackWithTheServer();
    void failuresThatDoNotPassEndTheRun_data();
    void failuresThatDoNotPassEndTheRun();
    void stopDuringTheWaitEndsAtOnce();
    void stopCutsAVerifiedTryShort();
    void twentyLossesLeaveNothingBehind();

private:
    QVariantMap settings(const IcecastServer &server, quint16 port) const;
    QStringList logLines() const;
    // The player on air with the paced sine, reconnecting.
    bool goOnAir(Player &player, const QVariantMap &settings);
    bool stopAndWaitForOff(Player &player, qint64 *stopMs = nullptr);

    TestCertificate certificate;
    IcecastServer icecast;
    IcecastServer tlsIcecast;
    std::unique_ptr<LogsModel> log;
    QString mount;
    int mountNumber = 0;
};

void TestReconnect::initTestCase()
{
    QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
    QVERIFY2(certificate.generate(QStringLiteral("localhost")), qPrintable(certificate.errorString()));
    tlsIcecast.setTlsCertificate(certificate);
    QVERIFY2(tlsIcecast.start(), qPrintable(tlsIcecast.errorString()));
}

void TestReconnect::init()
{
    // A mount of its own for each test: the server frees a lost one late.
    mount = QStringLiteral("live%1").arg(++mountNumber);
    log = std::make_unique<LogsModel>();
}

void TestReconnect::cleanup()
{
    log.reset();
}

QVariantMap TestReconnect::settings(const IcecastServer &server, quint16 port) const
{
    // 320k fills FFmpeg's 32 KiB output buffer often: a lost connection shows soon.
    return withStream(streamSettings(server, pacedSine, mount, 44100, QStringLiteral("320k")),
                      {{QStringLiteral("port"), port}, {QStringLiteral("reconnect"), true}});
}

QStringList TestReconnect::logLines() const
{
    return log->data(log->index(0, 0)).toString().split(QLatin1Char('\n'));
}

bool TestReconnect::goOnAir(Player &player, const QVariantMap &settings)
{
    player.setCaptureBackend({QStringLiteral("lavfi"), QString()});
    player.togglePlayPause(settings);
    return waitUntil(onAirTimeoutMs, [&] { return player.status() == OnAir; });
}

bool TestReconnect::stopAndWaitForOff(Player &player, qint64 *stopMs)
{
    QElapsedTimer clock;
    clock.start();
    player.togglePlayPause(QVariantMap());
    const bool off = waitUntil(10000, [&] { return player.status() == Off; });
    if (stopMs)
        *stopMs = clock.elapsed();
    return off;
}

void TestReconnect::comesBackWithTheServer_data()
{
    QTest::addColumn<bool>("downAtStart");
    QTest::addColumn<QString>("cause");

    QTest::newRow("lost on the air") << false << QStringLiteral("Connection lost");
    QTest::newRow("down at the start") << true << QStringLiteral("Could not connect");
}

void TestReconnect::comesBackWithTheServer()
{
    QFETCH(bool, downAtStart);
    QFETCH(QString, cause);

    IcecastServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Player player;
    ProgressRecorder recorder(player);
    if (downAtStart) {
        server.stop();
        player.setCaptureBackend({QStringLiteral("lavfi"), QString()});
        player.togglePlayPause(settings(server, server.port()));
    } else {
        QVERIFY2(goOnAir(player, settings(server, server.port())), qPrintable(player.errorText()));
        server.stop();
    }

    // Two failed tries, a second and then two seconds after the loss, with a
    // countdown to each. The try itself is too short to be seen.
    QVERIFY2(waitUntil(15000, [&] {
                 return recorder.texts.contains(cause + QStringLiteral(", reconnecting in 4 s (try 3)"))
                     && logLines().filter(QStringLiteral(" to reconnect failed")).size() == 2;
             }),
             qPrintable(recorder.texts.join(QLatin1Char('|'))));
    QVERIFY(recorder.texts.contains(cause + QStringLiteral(", reconnecting in 2 s (try 2)")));
    QVERIFY(recorder.texts.contains(cause + QStringLiteral(", reconnecting in 1 s (try 2)")));
    QCOMPARE(player.status(), int(Changing));
    QVERIFY(player.isPlaying());
    const QStringList lines = logLines();
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^%1 \\(error .+\\)$").arg(cause))).size(), 1);
    QCOMPARE(lines.filter(QStringLiteral(" to reconnect failed")),
             QStringList({QStringLiteral("Try 1 to reconnect failed (error Connection refused)"),
                          QStringLiteral("Try 2 to reconnect failed (error Connection refused)")}));
    QVERIFY(logLines().filter(QStringLiteral("Streaming stopped")).isEmpty());

    // Back on the air at the first try after the server is.
    const double elapsedBefore = player.elapsed();
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const int failedTries = logLines().filter(QStringLiteral(" to reconnect failed")).size();
    QVERIFY2(waitUntil(onAirTimeoutMs, [&] { return player.status() == OnAir; }),
             qPrintable(logLines().mid(logLines().size() - 8).join(QLatin1Char('\n'))));
    QCOMPARE(logLines().filter(QStringLiteral("Reconnected on try ")),
             QStringList{QStringLiteral("Reconnected on try %1").arg(failedTries + 1)});
    QVERIFY(player.progressText().isEmpty());

    QCOMPARE(listedStreamFields(server, QLatin1Char('/') + mount), expectedStreamFields());
    const QJsonObject stream = probeFirstStream(server.listen(QLatin1Char('/') + mount, 3000));
    QCOMPARE(stream.value(QStringLiteral("codec_name")).toString(), QStringLiteral("mp3"));
    QCOMPARE(stream.value(QStringLiteral("bit_rate")).toString().toInt(), 320000);
    // The elapsed time counts the whole run.
    QVERIFY(player.elapsed() > elapsedBefore);
    QVERIFY(elapsedBefore > 2.0);

    QVERIFY(stopAndWaitForOff(player));
    QVERIFY(player.errorText().isEmpty());
}

void TestReconnect::failuresThatDoNotPassEndTheRun_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("password");

    QTest::newRow("wrong password") << false << QStringLiteral("not the password");
    // FFmpeg reports a failed verification as an I/O error, which would pass otherwise.
    QTest::newRow("unverified certificate") << true << icecast.sourcePassword();
}

void TestReconnect::failuresThatDoNotPassEndTheRun()
{
    QFETCH(bool, tls);
    QFETCH(QString, password);

    const IcecastServer &server = tls ? tlsIcecast : icecast;
    IcecastProxy proxy;
    QVERIFY(proxy.listen(server.port()));
    Player player;
    player.setCaptureBackend({QStringLiteral("lavfi"), QString()});
    QVariantMap failing = withStream(settings(server, proxy.port()), {{QStringLiteral("password"), password}});
    if (tls)
        failing = withStream(failing, {{QStringLiteral("protocol"), QStringLiteral("HTTPS")}});
    player.togglePlayPause(failing);
    QVERIFY(waitUntil(onAirTimeoutMs, [&] { return player.status() == Error; }));
    QCOMPARE(player.errorText(), QStringLiteral("Could not open output icecast://source:****@%1:%2/%3")
                                     .arg(server.host(), QString::number(proxy.port()), mount));
    QVERIFY(waitUntil(5000, [&] { return !player.isPlaying() && !logLines().filter(QStringLiteral("Streaming stopped")).isEmpty(); }));
    // Longer than the first wait.
    QTest::qWait(2500);
    QCOMPARE(proxy.connectionCount(), 1);
    QVERIFY(logLines().filter(QStringLiteral("reconnect"), Qt::CaseInsensitive).isEmpty());
}

void TestReconnect::stopDuringTheWaitEndsAtOnce()
{
    IcecastServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    IcecastProxy proxy;
    QVERIFY(proxy.listen(server.port()));
    Player player;
    QVERIFY2(goOnAir(player, settings(server, proxy.port())), qPrintable(player.errorText()));
    server.stop();
    // In the two-second wait after the first failed try.
    QVERIFY(waitUntil(15000, [&] { return player.progressText().contains(QStringLiteral("in 2 s (try 2)")); }));
    const int connections = proxy.connectionCount();

    qint64 stopMs = 0;
    QVERIFY(stopAndWaitForOff(player, &stopMs));
    qInfo("Stopped during the wait in %lld ms", stopMs);
    QVERIFY2(stopMs < stopBoundMs, qPrintable(QString::number(stopMs)));
    QVERIFY(player.errorText().isEmpty());
    QTest::qWait(2500);
    QCOMPARE(proxy.connectionCount(), connections);
}

void TestReconnect::stopCutsAVerifiedTryShort()
{
    // Refused at the start, then a server that takes the try and never answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const quint16 port = silent.serverPort();
    silent.close();
    Player player;
    player.setCaptureBackend({QStringLiteral("lavfi"), QString()});
    player.togglePlayPause(withStream(settings(icecast, port), {{QStringLiteral("protocol"), QStringLiteral("HTTPS")}}));
    QVERIFY(waitUntil(onAirTimeoutMs, [&] { return logLines().contains(QStringLiteral("Could not connect (error Connection refused)")); }));
    QVERIFY(silent.listen(QHostAddress::LocalHost, port));
    QVERIFY(waitUntil(5000, [&] { return silent.hasPendingConnections(); }));
    QCOMPARE(player.progressText(), QStringLiteral("Reconnecting (try 1)"));

    qint64 stopMs = 0;
    QVERIFY(stopAndWaitForOff(player, &stopMs));
    qInfo("Stopped during a try in %lld ms", stopMs);
    QVERIFY2(stopMs < stopBoundMs, qPrintable(QString::number(stopMs)));
    QVERIFY(player.errorText().isEmpty());
}

void TestReconnect::twentyLossesLeaveNothingBehind()
{
    IcecastProxy proxy;
    QVERIFY(proxy.listen(icecast.port()));
    Player player;
    QVERIFY2(goOnAir(player, settings(icecast, proxy.port())), qPrintable(player.errorText()));

    int firstFiles = 0;
    int firstThreads = 0;
    QString firstMemory;
    QElapsedTimer clock;
    clock.start();
    for (int loss = 1; loss <= 20; ++loss) {
        proxy.dropConnections();
        QVERIFY2(waitUntil(20000, [&] {
                     return player.status() == OnAir
                         && logLines().filter(QStringLiteral("Reconnected on try ")).size() == loss;
                 }),
                 qPrintable(QStringLiteral("loss %1: ").arg(loss) + logLines().mid(logLines().size() - 5).join(QLatin1Char('\n'))));
        if (loss == 1) {
            QTest::qWait(200);
            firstFiles = openFileCount();
            firstThreads = threadNames().size();
            firstMemory = residentMemory();
        }
    }
    qInfo("20 losses in %lld ms; %d connections; memory after the first %s, after the last %s",
          clock.elapsed(), proxy.connectionCount(), qPrintable(firstMemory), qPrintable(residentMemory()));
    QVERIFY2(waitUntil(5000, [&] { return openFileCount() <= firstFiles && threadNames().size() <= firstThreads; }),
             qPrintable(QStringLiteral("files %1 (first %2), threads %3 (first %4)")
                            .arg(openFileCount()).arg(firstFiles).arg(threadNames().size()).arg(firstThreads)));
    QCOMPARE(logLines().filter(QRegularExpression(QStringLiteral("^Connection lost \\(error "))).size(), 20);
    QVERIFY(stopAndWaitForOff(player));
}

QTEST_GUILESS_MAIN(TestReconnect)
#include "tst_reconnect.moc"
