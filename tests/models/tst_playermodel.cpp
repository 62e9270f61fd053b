#include "models/logsmodel.h"
#include "models/playermodel.h"

#include "icecastproxy.h"
#include "icecastserver.h"
#include "playerharness.h"
#include "pulseserver.h"

#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

enum Failure { None, Refused, Unreachable, NeverAnswers, Untrusted };
// Where a listener's visit goes.
enum Visited { TheMount, LockedMount, NothingThere, AnotherCodec, SilentDoor };
enum Writing { RenameOver, DeleteAndRecreate, TruncateAndRewrite };

QString text(const PlayerModel &model, int role)
{
    return model.data(model.index(0, 0), role).toString();
}

int countLines(const LogsModel &log, const QString &start)
{
    const QStringList lines = logLines(log);
    return int(std::count_if(lines.begin(), lines.end(), [&](const QString &line) { return line.startsWith(start); }));
}

const QString notConnected = QStringLiteral("Cannot update metadata: stream not connected!");

} // namespace

class TestPlayerModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rowFollowsTheEngine();
    void listsLiveSourcesOnce_data();
    void listsLiveSourcesOnce();
    void followsTheFileAsItIsWritten_data();
    void followsTheFileAsItIsWritten();
    void startsAtLogonWhenAsked();
    void sendsTheTitle_data();
    void sendsTheTitle();
    void streamsToAShoutcastServer();
    void warnsOfDeadAir_data();
    void warnsOfDeadAir();
    void checksWhatListenersGet_data();
    void checksWhatListenersGet();
    void countsListeners();

private:
    PulseServer pulse;
    QTemporaryDir folder;
    // Titles go to a real Icecast server behind a loopback front door that
    // sees each plain metadata request and can refuse it, leave it
    // unanswered, or send it to an impostor.
    IcecastServer icecast;
    TestCertificate certificate;
    TestCertificate impostorCertificate;
    IcecastProxy impostor;
};

void TestPlayerModel::initTestCase()
{
    captureDebugOutput();
    pulse.addDesktopSource();
    QVERIFY2(pulse.start(), qPrintable(pulse.errorString()));
    icecast.setShoutcastMount(QStringLiteral("/shoutcast"));
    icecast.setLockedMount(QStringLiteral("/locked"));
    QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
    QVERIFY2(certificate.generate(QStringLiteral("localhost")), qPrintable(certificate.errorString()));
    QVERIFY2(impostorCertificate.generate(QStringLiteral("localhost")), qPrintable(impostorCertificate.errorString()));
    impostor.setSourceMode(IcecastProxy::Mode::Refuse);
    QVERIFY(impostor.listen(0, &impostorCertificate));
}

void TestPlayerModel::rowFollowsTheEngine()
{
    PlayerModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowValues(), QVariantList({QStringLiteral("--"), QStringLiteral("--"), QStringLiteral("Off"), 0, 0,
                                             false, false, false, QVariantList(), QString()}));

    // A burst of changes on the engine's thread: none is announced there; one
    // notification carries them all.
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    std::thread burst([&model] {
        for (int i = 1; i <= 10; ++i)
            model.engine().setProgress(i + 90050.5, {}, {}); // a day on the air
    });
    burst.join();
    QCOMPARE(changes.count(), 0);
    QCoreApplication::sendPostedEvents(); // the queued changes, no timer
    QCOMPARE(changes.count(), 1);
    QCOMPARE(text(model, PlayerModel::PositionRole), QStringLiteral("0001d, 01:01:00"));

    // Changes every 5 ms: at most one notification per 40 ms, the last one
    // after the last change.
    QElapsedTimer clock;
    QList<qint64> times;
    QString lastShown;
    connect(&model, &QAbstractItemModel::dataChanged, this, [&] {
        times << clock.elapsed();
        lastShown = text(model, PlayerModel::PositionRole);
    });
    clock.start();
    std::thread steady([&model] {
        for (int i = 1; i <= 40; ++i) {
            model.engine().setProgress(i + 3600.0, {}, {});
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    QTRY_COMPARE(lastShown, QStringLiteral("0000d, 01:00:40"));
    steady.join();
    QTest::qWait(100); // time for a notification that would follow too soon
    QVERIFY(times.count() >= 2);
    for (int i = 1; i < times.count(); ++i)
        QVERIFY2(times.at(i) - times.at(i - 1) >= 39, qPrintable(QString::number(times.at(i) - times.at(i - 1))));
    const int announced = changes.count();
    model.engine().setProgress(1.0, {}, {}); // after a quiet interval: at once
    QCoreApplication::sendPostedEvents();
    QCOMPARE(changes.count(), announced + 1);

    // The progress text shows while changing; off the air, also while a
    // playing run waits to reconnect, a title is refused with a report: the
    // error state.
    const QString waiting = QStringLiteral("Connection lost, reconnecting in 8 s (try 3)");
    model.engine().setReconnecting(waiting);
    QCOMPARE(model.rowValues(), QVariantList({QStringLiteral("--"), waiting, QStringLiteral("--"), 0, 0, true, false,
                                             true, QVariantList(), QString()}));
    model.metadataUpdate(QStringLiteral("Artist - Title"));
    QCOMPARE(model.rowValues(), QVariantList({QStringLiteral("--"), notConnected, QStringLiteral("Error"), 0, 0, true,
                                             true, false, QVariantList(), QString()}));
}

void TestPlayerModel::listsLiveSourcesOnce_data()
{
    QTest::addColumn<bool>("serverRunning");
    QTest::newRow("private sound server") << true;
    QTest::newRow("no sound server") << false;
}

void TestPlayerModel::listsLiveSourcesOnce()
{
    QFETCH(bool, serverRunning);
    LogsModel log;
    const QByteArray server = qgetenv("PULSE_SERVER");
    if (!serverRunning)
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(folder.filePath(QStringLiteral("no-server"))));
    PlayerModel model;
    const QVariant sources = model.liveSources();
    QCOMPARE(model.liveSources(), sources);
    qputenv("PULSE_SERVER", server);

    QStringList names;
    for (const QVariant &source : sources.toList()) {
        QCOMPARE(source.toMap().keys(), QStringList({QStringLiteral("deviceName"), QStringLiteral("index")}));
        names << source.toMap().value(QStringLiteral("index")).toString();
    }
    QCOMPARE(names, serverRunning ? pulse.sources() : QStringList());
    QCOMPARE(countLines(log, QStringLiteral("Initializing ffmpeg avdevices, version: ")), 1);
    QCOMPARE(model.engine().status(), int(serverRunning ? Off : Error));
    QCOMPARE(model.engine().errorText().startsWith(QStringLiteral("Error while listing devices occurred: ")),
             !serverRunning);
}

void TestPlayerModel::followsTheFileAsItIsWritten_data()
{
    QTest::addColumn<bool>("thereAtStart");
    QTest::addColumn<QList<int>>("changes"); // how each title is written

    QTest::newRow("rename over") << true << QList<int>{RenameOver, RenameOver, RenameOver};
    QTest::newRow("delete and recreate") << true << QList<int>{DeleteAndRecreate, DeleteAndRecreate, DeleteAndRecreate};
    QTest::newRow("truncate and rewrite") << true << QList<int>{TruncateAndRewrite, TruncateAndRewrite};
    // A file rewritten in place after it was replaced is a new file to watch.
    QTest::newRow("missing at start, then every way")
        << false << QList<int>{RenameOver, TruncateAndRewrite, DeleteAndRecreate, TruncateAndRewrite};
}

// The way playout programs write the file, several times on one run: each
// title reaches the server once, in order. A title already in the file when
// the run goes on the air goes out then, without a refusal before.
void TestPlayerModel::followsTheFileAsItIsWritten()
{
    QFETCH(bool, thereAtStart);
    QFETCH(QList<int>, changes);

    const QTemporaryDir playout;
    const QString path = playout.filePath(QStringLiteral("now-playing.txt"));
    // Each way has a moment in between, seen on its own: the deletion, the
    // empty file, the new file beside the old one.
    const auto write = [&](int writing, const QByteArray &content) {
        QFile file(writing == RenameOver ? path + QStringLiteral(".new") : path);
        if (writing == DeleteAndRecreate && QFile::exists(path)) {
            QVERIFY(QFile::remove(path));
            QTest::qWait(300);
        }
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (writing == TruncateAndRewrite)
            QTest::qWait(300);
        file.write(content);
        file.close();
        if (writing == RenameOver) {
            QTest::qWait(300);
            QCOMPARE(std::rename(QFile::encodeName(file.fileName()), QFile::encodeName(path)), 0);
        }
    };
    QStringList titles;
    if (thereAtStart) {
        titles << QStringLiteral("Title-0");
        write(TruncateAndRewrite, titles.constLast().toUtf8() + "\nnext line\n");
    }

    LogsModel log;
    IcecastProxy door;
    QVERIFY(door.listen(icecast.port()));
    QVERIFY(icecast.waitForMount(QStringLiteral("/live"), false));
    PlayerModel model;
    model.engine().setCaptureBackend(lavfi);
    model.followMetadataFile(path);
    model.togglePlayPause(withStream(streamSettings(icecast, pacedSine, QStringLiteral("live")),
                                     {{QStringLiteral("port"), door.port()}}));
    QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"), runTimeoutMs);
    if (thereAtStart)
        QVERIFY(icecast.waitForTitle(QStringLiteral("/live"), titles.constFirst()));
    for (int i = 0; i < changes.size(); ++i) {
        // Before the last title, which has no line end, a file whose first
        // line is empty: it sends nothing.
        const bool last = i + 1 == changes.size();
        if (last) {
            write(changes.at(i), "\nnot a title\n");
            QTest::qWait(300);
        }
        titles << QStringLiteral("Title-%1").arg(titles.size());
        write(changes.at(i), titles.constLast().toUtf8() + (last ? "" : "\nnext line\n"));
        QVERIFY2(icecast.waitForTitle(QStringLiteral("/live"), titles.constLast()), qPrintable(titles.constLast()));
    }

    QStringList sent;
    for (const QByteArray &head : qAsConst(door.metadataRequests))
        sent << QUrlQuery(QUrl::fromEncoded(head.split(' ').value(1))).queryItemValue(QStringLiteral("song"));
    QCOMPARE(sent, titles);
    QCOMPARE(countLines(log, notConnected), 0);
    QCOMPARE(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"));
    model.shutdown();
}

void TestPlayerModel::startsAtLogonWhenAsked()
{
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("autostart")));
    QVERIFY(writeFile(folder.filePath(QStringLiteral("autostart/other.desktop")), QByteArray()));
    QFile entry(folder.filePath(QStringLiteral("autostart/TavolinEncoder.desktop")));
    const QString exec = QStringLiteral("Exec=\"%1\"").arg(QCoreApplication::applicationFilePath());

    PlayerModel model;
    for (const bool on : {true, true, false, false}) {
        model.setAutoStart(on);
        QCOMPARE(entry.exists(), on);
        if (on) {
            QVERIFY(entry.open(QIODevice::ReadOnly));
            const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
            entry.close();
            QCOMPARE(lines.count(exec), 1);
            QVERIFY(lines.contains(QStringLiteral("[Desktop Entry]")));
        }
    }
    QVERIFY(QFile::exists(folder.filePath(QStringLiteral("autostart/other.desktop"))));
    qputenv("XDG_CONFIG_HOME", configHome);
}

void TestPlayerModel::sendsTheTitle_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<int>("failure");

    QTest::newRow("plain") << false << int(None);
    QTest::newRow("HTTPS, trusted through the certificate file") << true << int(None);
    QTest::newRow("HTTP error status") << false << int(Refused);
    QTest::newRow("server unreachable") << false << int(Unreachable);
    QTest::newRow("server never answers") << false << int(NeverAnswers);
    QTest::newRow("HTTPS, untrusted server") << true << int(Untrusted);
}

void TestPlayerModel::sendsTheTitle()
{
    QFETCH(bool, tls);
    QFETCH(int, failure);

    // Characters that a query would take for its own, and a letter beyond ASCII.
    const QString title = QStringLiteral("Caf\u00e9 & Roll = 1 + 1 / 2 ~ 100% #1");
    // A server over TLS of each run's own: it keeps listing a mount whose
    // source has gone.
    IcecastServer tlsIcecast;
    if (tls) {
        tlsIcecast.setTlsCertificate(certificate);
        QVERIFY2(tlsIcecast.start(), qPrintable(tlsIcecast.errorString()));
    }
    IcecastServer &server = tls ? tlsIcecast : icecast;
    QVERIFY(server.waitForMount(QStringLiteral("/live"), false));
    IcecastProxy door;
    QVERIFY(door.listen(server.port()));
    PlayerModel model;
    model.engine().setCaptureBackend(lavfi);
    QVariantMap settings = withStream(streamSettings(server, pacedSine, QStringLiteral("live")),
                                      {{QStringLiteral("port"), door.port()}});
    if (tls)
        settings = withStream(settings, {{QStringLiteral("protocol"), QStringLiteral("HTTPS")},
                                         {QStringLiteral("certificateFile"), certificate.certificateFile()}});
    model.togglePlayPause(settings);
    QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"), 20000);

    if (failure == Refused)
        door.setMetadataMode(IcecastProxy::Mode::Refuse);
    else if (failure == Unreachable)
        door.closeDoor();
    else if (failure == NeverAnswers)
        door.setMetadataMode(IcecastProxy::Mode::NeverAnswer);
    else if (failure == Untrusted)
        door.setServerPort(impostor.port());
    model.metadataUpdate(title);

    if (failure != None) {
        // The request's own time limit is 10 s.
        QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::StatusRole), QStringLiteral("Error"), 15000);
        const QString position = text(model, PlayerModel::PositionRole);
        QVERIFY2(position.startsWith(QStringLiteral("Error while updating metadata: ")), qPrintable(position));
        QCOMPARE(text(model, PlayerModel::SongRole), QStringLiteral("--"));
        // One failed update does not end the titles of the run: once the
        // server is reachable again the next one goes out and ends the error.
        door.setMetadataMode(IcecastProxy::Mode::PassOn);
        door.setServerPort(server.port());
        if (failure == Unreachable)
            QVERIFY(door.listen(server.port()));
        model.metadataUpdate(title);
    }
    QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::SongRole), title, 10000);
    QVERIFY(server.waitForTitle(QStringLiteral("/live"), title));
    QCOMPARE(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"));
    QCOMPARE(model.engine().errorText(), QString());
    if (failure == Untrusted) {
        // The listener's visits and counts go there too: none of them sends a byte.
        QVERIFY(waitUntil(5000, [&] { return impostor.closedConnections() == impostor.connections(); }));
        QCOMPARE(impostor.received(), QByteArray());
    }
    if (!tls && failure == None) {
        QCOMPARE(door.metadataRequests.size(), 1);
        const QByteArrayList head = door.metadataRequests.constFirst().split('\n');
        QCOMPARE(head.constFirst().trimmed(), "GET /admin/metadata?mode=updinfo&mount=/live&song=Caf%C3%A9%20%26%20Roll"
                                              "%20%3D%201%20%2B%201%20%2F%202%20~%20100%25%20%231&charset=UTF-8 HTTP/1.1");
        const QByteArray credentials = (server.sourceUser() + QLatin1Char(':') + server.sourcePassword()).toUtf8();
        QVERIFY(head.contains("Authorization: Basic " + credentials.toBase64() + '\r'));
    }

    // Still streaming: the run's clock moves on, and the request has let go
    // of its manager.
    const double elapsed = model.engine().elapsed();
    QVERIFY(waitUntil(5000, [&] { return model.engine().elapsed() > elapsed + 0.5; }));
    QTRY_COMPARE(model.findChildren<QObject *>().size(), 0);
    model.shutdown();
}

// Through the Shoutcast port the stream reaches listeners, and titles reach
// the server in order through its admin.cgi; a refused one shows no password.
void TestPlayerModel::streamsToAShoutcastServer()
{
    // Titles through a door, the source through the one above it.
    IcecastProxy titleDoor;
    IcecastProxy sourceDoor;
    QVERIFY(titleDoor.listen(icecast.port()));
    QVERIFY(sourceDoor.listen(quint16(icecast.port() + 1), nullptr, quint16(titleDoor.port() + 1)));
    PlayerModel model;
    model.engine().setCaptureBackend(lavfi);
    model.togglePlayPause(withStream(streamSettings(icecast, pacedSine, QStringLiteral("unused")),
                                     {{QStringLiteral("protocol"), QStringLiteral("Shoutcast")},
                                      {QStringLiteral("port"), titleDoor.port()}}));
    QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"), 20000);
    QCOMPARE(listenerView(icecast, QStringLiteral("/shoutcast"), 1000, -24),
             expectedListenerView(44100, 128000, 1000, -24));

    titleDoor.setMetadataMode(IcecastProxy::Mode::Refuse);
    model.metadataUpdate(QStringLiteral("Refused"));
    QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::StatusRole), QStringLiteral("Error"), 10000);
    QVERIFY(!text(model, PlayerModel::PositionRole).contains(icecast.sourcePassword()));
    titleDoor.setMetadataMode(IcecastProxy::Mode::PassOn);
    // Icecast reads a Shoutcast title's bytes as Latin-1: the UTF-8 sent shows letter by letter.
    const QStringList titles{QStringLiteral("First & Foremost - 100% #1"), QStringLiteral("Caf\u00e9 - Second")};
    for (const QString &title : titles) {
        model.metadataUpdate(title);
        QTRY_COMPARE_WITH_TIMEOUT(text(model, PlayerModel::SongRole), title, 10000);
        QVERIFY(icecast.waitForTitle(QStringLiteral("/shoutcast"), QString::fromLatin1(title.toUtf8())));
    }
    QCOMPARE(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"));
    QCOMPARE(titleDoor.metadataRequests.constLast().split(' ').value(1),
             "/admin.cgi?mode=updinfo&pass=" + QUrl::toPercentEncoding(icecast.sourcePassword())
                 + "&song=Caf%C3%A9%20-%20Second");
    model.shutdown();
}

void TestPlayerModel::warnsOfDeadAir_data()
{
    QTest::addColumn<int>("silenceSeconds");
    QTest::addColumn<int>("mutedMs");
    QTest::addColumn<bool>("warns");

    QTest::newRow("2 s setting, 4 s muted") << 2 << 4000 << true;
    QTest::newRow("off, 4 s muted") << 0 << 4000 << false;
    QTest::newRow("3 s setting, 1.5 s muted") << 3 << 1500 << false;
}

// The desktop device's tone muted: the device goes on delivering, zeros.
void TestPlayerModel::warnsOfDeadAir()
{
    QFETCH(int, silenceSeconds);
    QFETCH(int, mutedMs);
    QFETCH(bool, warns);

    // A row that failed may have left it muted.
    QVERIFY(pulse.setDesktopToneMuted(false));
    LogsModel log;
    PlayerModel model;
    QSignalSpy warning(&model, &PlayerModel::deadAirSecondsChanged);
    QVERIFY(icecast.waitForMount(QStringLiteral("/dead-air"), false));
    model.togglePlayPause(withStream(streamSettings(icecast, pulse.desktopSourceName(), QStringLiteral("dead-air")),
                                     {{QStringLiteral("silenceSeconds"), silenceSeconds}}));
    QVERIFY2(waitUntil(runTimeoutMs,
                       [&] { return model.engine().status() == OnAir && model.engine().leftVolume() > 0; }),
             qPrintable(logLines(log).join(QLatin1Char('\n'))));

    QElapsedTimer muted;
    muted.start();
    QVERIFY(pulse.setDesktopToneMuted(true));
    if (warns) {
        QVERIFY(waitUntil(silenceSeconds * 1000 + 10000, [&] { return model.deadAirSeconds() > 0; }));
        QVERIFY2(muted.elapsed() >= silenceSeconds * 1000, qPrintable(QString::number(muted.elapsed())));
        // Nothing else changes: the listeners get the silence.
        QCOMPARE(text(model, PlayerModel::StatusRole), QStringLiteral("On Air"));
    }
    QTest::qWait(int(qMax<qint64>(0, mutedMs - muted.elapsed())));
    QVERIFY(pulse.setDesktopToneMuted(false));
    const qint64 mutedForMs = muted.elapsed();
    QVERIFY(waitUntil(5000, [&] { return model.engine().leftVolume() > 0; }));
    // Past the setting, counted from the mute, and past the second of sound
    // that ends a silence.
    if (!warns)
        QTest::qWait(int(qMax<qint64>(0, silenceSeconds * 1000 - mutedForMs)) + 2000);
    QVERIFY(waitUntil(5000, [&] { return model.deadAirSeconds() == 0; }));

    const QRegularExpression back(QStringLiteral("^Audio back after (\\d+) s of silence$"));
    const QStringList lines = logLines(log).filter(back);
    QCOMPARE(lines.size(), int(warns));
    QCOMPARE(logLines(log).filter(QStringLiteral("Silence on the input")),
             warns ? QStringList{QStringLiteral("Silence on the input for %1 s").arg(silenceSeconds)} : QStringList());
    QCOMPARE(warning.isEmpty(), !warns);
    if (warns) {
        // The levels are measured over half a second; the whole silence is told.
        const int seconds = back.match(lines.first()).captured(1).toInt();
        QVERIFY2(seconds >= mutedMs / 1000 - 1 && seconds <= mutedForMs / 1000 + 1, qPrintable(lines.first()));
        // Counted up from the setting, then over.
        QCOMPARE(warning.first().first().toInt(), silenceSeconds);
        QCOMPARE(warning.last().first().toInt(), 0);
        for (int i = 1; i + 1 < warning.size(); ++i)
            QVERIFY(warning.at(i).first().toInt() > warning.at(i - 1).first().toInt());
    }
    model.shutdown();
}

void TestPlayerModel::checksWhatListenersGet_data()
{
    QTest::addColumn<int>("visited");
    QTest::addColumn<QString>("heard"); // how the row's text starts
    QTest::addColumn<QString>("logged");

    const QString timedOut = QStringLiteral("The listener address does not answer (error Connection timed out)");
    QTest::newRow("heard") << int(TheMount) << QStringLiteral("Heard by a listener ")
                           << QStringLiteral("A listener hears the stream");
    QTest::newRow("listeners must log in") << int(LockedMount) << QStringLiteral("The server asks listeners for a password")
                                           << QStringLiteral("The server asks listeners for a password");
    QTest::newRow("nothing listens") << int(NothingThere)
                                     << QStringLiteral("The listener address does not answer (error Connection refused)")
                                     << QStringLiteral("The listener address does not answer (error Connection refused)");
    // The run's second stream, MP3, as the address of the first, Opus.
    QTest::newRow("another codec") << int(AnotherCodec)
                                   << QStringLiteral("Listeners get another stream (audio/mpeg, wanted audio/ogg)")
                                   << QStringLiteral("Listeners get another stream (audio/mpeg, wanted audio/ogg)");
    QTest::newRow("accepts and never answers") << int(SilentDoor) << timedOut << timedOut;
}

// An Opus stream visited 5 s after it went on the air: the row's text and one
// log line say what a listener got, and a visit that waits for its time limit
// holds nothing back.
void TestPlayerModel::checksWhatListenersGet()
{
    QFETCH(int, visited);
    QFETCH(QString, heard);
    QFETCH(QString, logged);

    LogsModel log;
    IcecastProxy silent;
    silent.setSourceMode(IcecastProxy::Mode::NeverAnswer);
    QVERIFY(silent.listen(0));
    const QString mount = visited == LockedMount ? QStringLiteral("locked") : QStringLiteral("heard%1").arg(visited);
    const QMap<int, QString> addresses{
        {NothingThere, QStringLiteral("http://127.0.0.1:%1/%2").arg(freeLoopbackPort()).arg(mount)},
        {AnotherCodec, QStringLiteral("http://127.0.0.1:%1/%2-mp3").arg(icecast.port()).arg(mount)},
        {SilentDoor, QStringLiteral("http://127.0.0.1:%1/%2").arg(silent.port()).arg(mount)}};
    QVariantMap settings =
        withStream(streamSettings(icecast, pacedSine, mount, 48000, QStringLiteral("96k"), QStringLiteral("Opus")),
                   {{QStringLiteral("listenerUrl"), addresses.value(visited)}});
    if (visited == AnotherCodec)
        settings.insert(QStringLiteral("streams"),
                        QVariantList{streamSettings(icecast, pacedSine, mount + QStringLiteral("-mp3"))
                                         .value(QStringLiteral("stream"))});
    PlayerModel model;
    model.engine().setCaptureBackend(lavfi);
    model.togglePlayPause(settings);
    QVERIFY(waitForStatus(model.engine(), OnAir));
    const auto row = [&] { return model.data(model.index(0, 0), PlayerModel::StreamsRole).toList().value(0).toMap(); };
    if (visited == SilentDoor)
        QCOMPARE(toneGaps(icecast.recordListener(QLatin1Char('/') + mount, 12000), 1000, -24), QStringList());
    QTRY_VERIFY2_WITH_TIMEOUT(row().value(QStringLiteral("heard")).toString().startsWith(heard),
                              qPrintable(row().value(QStringLiteral("heard")).toString()), 20000);
    QCOMPARE(row().value(QStringLiteral("heardWell")).toBool(), visited == TheMount);
    QCOMPARE(logLines(log).filter(logged).size(), 1);
    model.shutdown();
}

// The server's count, read every 30 s, follows two listeners who join and
// leave; the visit's own connection, the first read's company, is not counted.
void TestPlayerModel::countsListeners()
{
    PlayerModel model;
    model.engine().setCaptureBackend(lavfi);
    model.togglePlayPause(streamSettings(icecast, pacedSine, QStringLiteral("counted")));
    QVERIFY(waitForStatus(model.engine(), OnAir));
    const auto listeners = [&] {
        return model.data(model.index(0, 0), PlayerModel::StreamsRole).toList().value(0).toMap()
            .value(QStringLiteral("listeners")).toInt();
    };
    QTRY_COMPARE_WITH_TIMEOUT(listeners(), 0, 15000);
    QTcpSocket first;
    QTcpSocket second;
    for (QTcpSocket *listener : {&first, &second}) {
        listener->connectToHost(QHostAddress::LocalHost, icecast.port());
        listener->write("GET /counted HTTP/1.0\r\n\r\n");
        connect(listener, &QTcpSocket::readyRead, listener, [listener] { listener->readAll(); });
    }
    QTRY_COMPARE_WITH_TIMEOUT(listeners(), 2, 40000);
    first.abort();
    second.abort();
    QTRY_COMPARE_WITH_TIMEOUT(listeners(), 0, 40000);
    model.shutdown();
}

QTEST_GUILESS_MAIN(TestPlayerModel)
#include "tst_playermodel.moc"
