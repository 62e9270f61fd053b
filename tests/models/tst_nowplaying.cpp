#include "models/logsmodel.h"
#include "models/playermodel.h"

#include "debugcapture.h"
#include "icecastproxy.h"
#include "icecastserver.h"
#include "requestrecorder.h"
#include "streamsettings.h"
#include "testcertificate.h"
#include "waituntil.h"

#include <QtTest>

namespace {

QVariant role(const PlayerModel &model, int role)
{
    return model.data(model.index(0, 0), role);
}

const QString pacedSine = QStringLiteral("sine=frequency=1000:sample_rate=48000,arealtime");

} // namespace

// Titles sent while on air, to a real Icecast server behind a loopback front
// door that sees each metadata request and can refuse it or leave it unanswered.
class TestNowPlaying : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void titleReachesTheServer_data();
    void titleReachesTheServer();
    void sendsTheRequestOfTheRunOnAir();
    void failedUpdateKeepsTheStreamGoing_data();
    void failedUpdateKeepsTheStreamGoing();
    void titleOverHttpsGoesToAVerifiedServerOnly_data();
    void titleOverHttpsGoesToAVerifiedServerOnly();

private:
    void goOnAir();

    IcecastServer icecast;
    std::unique_ptr<IcecastProxy> proxy;
    std::unique_ptr<LogsModel> log;
    std::unique_ptr<PlayerModel> model;
};

void TestNowPlaying::initTestCase()
{
    QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
    captureDebugOutput();
}

void TestNowPlaying::init()
{
    QVERIFY(waitUntil(10000, [this] { return icecast.mountStatus(QStringLiteral("/live")).isEmpty(); }));
    proxy = std::make_unique<IcecastProxy>();
    QVERIFY(proxy->listen(icecast.port()));
    log = std::make_unique<LogsModel>();
    model = std::make_unique<PlayerModel>();
    model->engine().setCaptureBackend({QStringLiteral("lavfi"), QString()});
}

void TestNowPlaying::cleanup()
{
    model->shutdown();
    model.reset();
    log.reset();
    proxy.reset();
}

void TestNowPlaying::goOnAir()
{
    QVariantMap settings = streamSettings(icecast, pacedSine, QStringLiteral("live"));
    QVariantMap stream = settings.value(QStringLiteral("stream")).toMap();
    stream.insert(QStringLiteral("port"), proxy->port());
    settings.insert(QStringLiteral("stream"), stream);
    model->togglePlayPause(settings);
    QTRY_COMPARE_WITH_TIMEOUT(role(*model, PlayerModel::StatusRole).toString(), QStringLiteral("On Air"), 20000);
}

void TestNowPlaying::titleReachesTheServer_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("plain") << QStringLiteral("Artist - Title");
    QTest::newRow("query characters") << QStringLiteral("Rock & Roll = 1 + 1 / 2 ~ 100% #1");
    QTest::newRow("letters beyond ASCII") << QStringLiteral("Café Tacvba - Eres");
}

void TestNowPlaying::titleReachesTheServer()
{
    QFETCH(QString, title);
    goOnAir();
    model->metadataUpdate(title);
    QTRY_COMPARE_WITH_TIMEOUT(role(*model, PlayerModel::SongRole).toString(), title, 10000);
    QVERIFY(waitUntil(10000, [&] {
        return icecast.mountStatus(QStringLiteral("/live")).value(QStringLiteral("title")).toString() == title;
    }));
    QCOMPARE(role(*model, PlayerModel::StatusRole).toString(), QStringLiteral("On Air"));
}

void TestNowPlaying::sendsTheRequestOfTheRunOnAir()
{
    goOnAir();
    model->metadataUpdate(QStringLiteral("Artist - Title"));
    QTRY_COMPARE_WITH_TIMEOUT(role(*model, PlayerModel::SongRole).toString(), QStringLiteral("Artist - Title"), 10000);

    QCOMPARE(proxy->metadataRequests.size(), 1);
    const QByteArrayList head = proxy->metadataRequests.constFirst().split('\n');
    QCOMPARE(head.constFirst().trimmed(),
             QByteArray("GET /admin/metadata?mode=updinfo&mount=/live&song=Artist%20-%20Title&charset=UTF-8 HTTP/1.1"));
    const QByteArray credentials = (icecast.sourceUser() + QLatin1Char(':') + icecast.sourcePassword()).toUtf8();
    QVERIFY(head.contains("Authorization: Basic " + credentials.toBase64() + '\r'));
    QVERIFY(head.contains("Host: 127.0.0.1:" + QByteArray::number(proxy->port()) + '\r'));
}

void TestNowPlaying::failedUpdateKeepsTheStreamGoing_data()
{
    QTest::addColumn<int>("failure");
    QTest::newRow("HTTP error status") << 0;
    QTest::newRow("server unreachable") << 1;
    QTest::newRow("server never answers") << 2;
}

void TestNowPlaying::failedUpdateKeepsTheStreamGoing()
{
    QFETCH(int, failure);
    goOnAir();
    if (failure == 0)
        proxy->setMetadataMode(IcecastProxy::MetadataMode::Refuse);
    else if (failure == 1)
        proxy->closeDoor();
    else
        proxy->setMetadataMode(IcecastProxy::MetadataMode::NeverAnswer);

    model->metadataUpdate(QStringLiteral("Artist - Title"));
    // The request's own time limit is 10 s.
    QTRY_COMPARE_WITH_TIMEOUT(role(*model, PlayerModel::StatusRole).toString(), QStringLiteral("Error"), 15000);
    const QString position = role(*model, PlayerModel::PositionRole).toString();
    QVERIFY2(position.startsWith(QStringLiteral("Error while updating metadata: ")), qPrintable(position));
    QCOMPARE(role(*model, PlayerModel::SongRole).toString(), QStringLiteral("--"));
    QCOMPARE(role(*model, PlayerModel::IsPlayingRole).toBool(), true);

    // Still streaming: the run's clock moves on, and a request that failed
    // has let go of its manager.
    const double elapsed = model->engine().elapsed();
    QVERIFY(waitUntil(5000, [&] { return model->engine().elapsed() > elapsed + 0.5; }));
    QTRY_COMPARE(model->findChildren<QObject *>().size(), 0);
}

void TestNowPlaying::titleOverHttpsGoesToAVerifiedServerOnly_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::newRow("trusted through the certificate file") << true;
    QTest::newRow("untrusted server") << false;
}

void TestNowPlaying::titleOverHttpsGoesToAVerifiedServerOnly()
{
    QFETCH(bool, trusted);
    TestCertificate certificate;
    TestCertificate impostorCertificate;
    QVERIFY2(certificate.generate(QStringLiteral("localhost")), qPrintable(certificate.errorString()));
    QVERIFY2(impostorCertificate.generate(QStringLiteral("localhost")), qPrintable(impostorCertificate.errorString()));
    IcecastServer server;
    server.setTlsCertificate(certificate);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    // The stream goes through the door to the server; the title, when the
    // server is not trusted, to an impostor with a certificate of its own.
    IcecastProxy door;
    QVERIFY(door.listen(server.port()));
    RequestRecorder impostor;
    QVERIFY(impostor.start(&impostorCertificate));

    QVariantMap settings = streamSettings(server, pacedSine, QStringLiteral("tls"));
    QVariantMap stream = settings.value(QStringLiteral("stream")).toMap();
    stream.insert(QStringLiteral("protocol"), QStringLiteral("HTTPS"));
    stream.insert(QStringLiteral("certificateFile"), certificate.certificateFile());
    stream.insert(QStringLiteral("port"), door.port());
    settings.insert(QStringLiteral("stream"), stream);
    model->togglePlayPause(settings);
    QTRY_COMPARE_WITH_TIMEOUT(role(*model, PlayerModel::StatusRole).toString(), QStringLiteral("On Air"), 20000);
    if (!trusted)
        door.setServerPort(impostor.serverPort());

    model->metadataUpdate(QStringLiteral("Artist - Title"));
    if (trusted) {
        QTRY_COMPARE_WITH_TIMEOUT(role(*model, PlayerModel::SongRole).toString(), QStringLiteral("Artist - Title"), 10000);
        QVERIFY(waitUntil(10000, [&] {
            return server.mountStatus(QStringLiteral("/tls")).value(QStringLiteral("title")).toString()
                == QLatin1String("Artist - Title");
        }));
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(role(*model, PlayerModel::StatusRole).toString(), QStringLiteral("Error"), 15000);
        const QString position = role(*model, PlayerModel::PositionRole).toString();
        QVERIFY2(position.startsWith(QStringLiteral("Error while updating metadata: ")), qPrintable(position));
        QCOMPARE(role(*model, PlayerModel::SongRole).toString(), QStringLiteral("--"));
        QVERIFY(waitUntil(5000, [&] { return impostor.closedConnections() == 1; }));
        QCOMPARE(impostor.received(), QByteArray());
    }
    const double elapsed = model->engine().elapsed();
    QVERIFY(waitUntil(5000, [&] { return model->engine().elapsed() > elapsed + 0.5; }));
    QCOMPARE(role(*model, PlayerModel::IsPlayingRole).toBool(), true);
    model->shutdown();
}

QTEST_GUILESS_MAIN(TestNowPlaying)
#include "tst_nowplaying.moc"
