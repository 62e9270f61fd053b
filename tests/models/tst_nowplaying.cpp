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

enum Failure { None, Refused, Unreachable, NeverAnswers, Untrusted };

QString text(const PlayerModel &model, int role)
{
    return model.data(model.index(0, 0), role).toString();
}

} // namespace

// Titles sent while on air, to real Icecast servers (plain and TLS) behind a
// loopback front door that sees each plain metadata request and can refuse
// it, leave it unanswered, or send it to an impostor.
class TestNowPlaying : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sendsTheTitle_data();
    void sendsTheTitle();

private:
    TestCertificate certificate;
    TestCertificate impostorCertificate;
    IcecastServer icecast;
    RequestRecorder impostor;
};

void TestNowPlaying::initTestCase()
{
    captureDebugOutput();
    QVERIFY2(certificate.generate(QStringLiteral("localhost")), qPrintable(certificate.errorString()));
    QVERIFY2(impostorCertificate.generate(QStringLiteral("localhost")), qPrintable(impostorCertificate.errorString()));
    QVERIFY(impostor.start(&impostorCertificate));
    QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
}

void TestNowPlaying::sendsTheTitle_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QByteArray>("requestLine"); // when plain and answered

    const QString plain = QStringLiteral("Artist - Title");
    const auto request = [](const QByteArray &song) {
        return "GET /admin/metadata?mode=updinfo&mount=/live&song=" + song + "&charset=UTF-8 HTTP/1.1";
    };
    QTest::newRow("plain") << plain << false << int(None) << request("Artist%20-%20Title");
    QTest::newRow("query characters") << QStringLiteral("Rock & Roll = 1 + 1 / 2 ~ 100% #1") << false << int(None)
                                      << request("Rock%20%26%20Roll%20%3D%201%20%2B%201%20%2F%202%20~%20100%25%20%231");
    QTest::newRow("letters beyond ASCII") << QStringLiteral("Caf\u00e9 Tacvba - Eres") << false << int(None)
                                          << request("Caf%C3%A9%20Tacvba%20-%20Eres");
    QTest::newRow("HTTPS, trusted through the certificate file") << plain << true << int(None) << QByteArray();
    QTest::newRow("HTTP error status") << plain << false << int(Refused) << QByteArray();
    QTest::newRow("server unreachable") << plain << false << int(Unreachable) << QByteArray();
    QTest::newRow("server never answers") << plain << false << int(NeverAnswers) << QByteArray();
    QTest::newRow("HTTPS, untrusted server") << plain << true << int(Untrusted) << QByteArray();
}

void TestNowPlaying::sendsTheTitle()
{
    QFETCH(QString, title);
    QFETCH(bool, tls);
    QFETCH(int, failure);
    QFETCH(QByteArray, requestLine);

    // A server over TLS of each run's own: it keeps listing a mount whose
    // source has gone.
    IcecastServer tlsIcecast;
    if (tls) {
        tlsIcecast.setTlsCertificate(certificate);
        QVERIFY2(tlsIcecast.start(), qPrintable(tlsIcecast.errorString()));
    }
    IcecastServer &server = tls ? tlsIcecast : icecast;
    QVERIFY(waitUntil(10000, [&] { return server.mountStatus(QStringLiteral("/live")).isEmpty(); }));
    IcecastProxy door;
    QVERIFY(door.listen(server.port()));
    LogsModel log;
    PlayerModel model;
    model.engine().setCaptureBackend({QStringLiteral("lavfi"), QString()});
    const QString pacedSine = QStringLiteral("sine=frequency=1000:sample_rate=48000,arealtime");
    QVariantMap settings = withStream(streamSettings(server, pacedSine, QStringLiteral("live")),
                                      {{QStringLiteral("port"), door.port()}});
    if (tls)
        settings = withStream(settings, {{QStringLiteral("protocol"), QStringLiteral("HTTPS")},
                                         {QStringLiteral("certificateFile"), certificate.certificateFile()}});
    model.togglePlayPause(settings);
    QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"), 20000);

    if (failure == Refused)
        door.setMetadataMode(IcecastProxy::MetadataMode::Refuse);
    else if (failure == Unreachable)
        door.closeDoor();
    else if (failure == NeverAnswers)
        door.setMetadataMode(IcecastProxy::MetadataMode::NeverAnswer);
    else if (failure == Untrusted)
        door.setServerPort(impostor.serverPort());
    model.metadataUpdate(title);

    if (failure == None) {
        QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::SongRole), title, 10000);
        QVERIFY(waitUntil(10000, [&] {
            return server.mountStatus(QStringLiteral("/live")).value(QStringLiteral("title")).toString() == title;
        }));
        QCOMPARE(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"));
    } else {
        // The request's own time limit is 10 s.
        QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::StatusRole), QStringLiteral("Error"), 15000);
        const QString position = text(model, PlayerModel::PositionRole);
        QVERIFY2(position.startsWith(QStringLiteral("Error while updating metadata: ")), qPrintable(position));
        QCOMPARE(text(model, PlayerModel::SongRole), QStringLiteral("--"));
    }
    if (failure == Untrusted) {
        QVERIFY(waitUntil(5000, [&] { return impostor.closedConnections() == 1; }));
        QCOMPARE(impostor.received(), QByteArray());
    }
    if (!requestLine.isEmpty()) {
        QCOMPARE(door.metadataRequests.size(), 1);
        const QByteArrayList head = door.metadataRequests.constFirst().split('\n');
        QCOMPARE(head.constFirst().trimmed(), requestLine);
        const QByteArray credentials = (server.sourceUser() + QLatin1Char(':') + server.sourcePassword()).toUtf8();
        QVERIFY(head.contains("Authorization: Basic " + credentials.toBase64() + '\r'));
    }

    // Still streaming: the run's clock moves on, and the request has let go
    // of its manager.
    const double elapsed = model.engine().elapsed();
    QVERIFY(waitUntil(5000, [&] { return model.engine().elapsed() > elapsed + 0.5; }));
    QVERIFY(model.data(model.index(0, 0), PlayerModel::IsPlayingRole).toBool());
    QTRY_COMPARE(model.findChildren<QObject *>().size(), 0);
    model.shutdown();
}

QTEST_GUILESS_MAIN(TestNowPlaying)
#include "tst_nowplaying.moc"
