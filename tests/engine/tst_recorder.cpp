#include "engine/recorder.h"
#include "models/logsmodel.h"
#include "models/playermodel.h"

#include "icecastproxy.h"
#include "icecastserver.h"
#include "playerharness.h"
#include "pulseserver.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// "INDEX 01 mm:ss:ff" as seconds.
double cueSeconds(const QString &line)
{
    const QStringList parts = line.section(QLatin1Char(' '), -1).split(QLatin1Char(':'));
    return parts.value(0).toInt() * 60 + parts.value(1).toInt() + parts.value(2).toInt() / 75.0;
}

} // namespace

// Recording runs to a local file against a private Icecast server and a
// private PulseAudio server's desktop-like 440 Hz device.
class TestRecorder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void namesTheFile_data();
    void namesTheFile();
    void keepsStreamingAndWritesACueSheet();

private:
    QVariantMap recording(const QString &folder) const;
    QString recordingIn(const QString &folder) const;

    IcecastServer icecast;
    PulseServer pulse;
    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<LogsModel> log;
    QString mount;
    int mountNumber = 0;
};

void TestRecorder::initTestCase()
{
    QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
    pulse.addDesktopSource();
    QVERIFY2(pulse.start(), qPrintable(pulse.errorString()));
    captureDebugOutput();
}

void TestRecorder::init()
{
    mount = QStringLiteral("rec%1").arg(++mountNumber);
    scratch = std::make_unique<QTemporaryDir>();
    log = std::make_unique<LogsModel>();
}

QVariantMap TestRecorder::recording(const QString &folder) const
{
    return withStream(streamSettings(icecast, pulse.desktopSourceName(), mount, 48000, QStringLiteral("192k")),
                      {{QStringLiteral("record"), true}, {QStringLiteral("recordFolder"), folder}});
}

// The one recording in folder, once its run has said where it saved it.
QString TestRecorder::recordingIn(const QString &folder) const
{
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.mp3")}, QDir::Files);
    if (files.size() != 1)
        return {};
    const QString path = QDir(folder).filePath(files.constFirst());
    const QStringList lines = logLines(*log);
    return lines.contains(QStringLiteral("Recording to ") + path)
            && lines.contains(QStringLiteral("Recording saved: ") + path)
        ? path
        : QString();
}

void TestRecorder::namesTheFile_data()
{
    QTest::addColumn<QString>("streamName");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("awkward name") << QStringLiteral(" Rock<>:\"/\\|?*\tFM ") << QStringList()
                                  << QStringLiteral("Rock__________FM 2026-03-07 09-05-01.mp3");
    QTest::newRow("empty name") << QString() << QStringList() << QStringLiteral("Tavolin Encoder 2026-03-07 09-05-01.mp3");
    QTest::newRow("taken twice")
        << QStringLiteral("Show") << QStringList{QStringLiteral("Show 2026-03-07 09-05-01.mp3"),
                                                 QStringLiteral("Show 2026-03-07 09-05-01 (2).mp3")}
        << QStringLiteral("Show 2026-03-07 09-05-01 (3).mp3");
    QTest::newRow("another codec's recording") << QStringLiteral("Show")
                                               << QStringList{QStringLiteral("Show 2026-03-07 09-05-01.mp3")}
                                               << QStringLiteral("Show 2026-03-07 09-05-01.opus");
    QTest::newRow("its CUE sheet left behind") << QStringLiteral("Show")
                                              << QStringList{QStringLiteral("Show 2026-03-07 09-05-01.cue")}
                                              << QStringLiteral("Show 2026-03-07 09-05-01 (2).mp3");
}

void TestRecorder::namesTheFile()
{
    QFETCH(QString, streamName);
    QFETCH(QStringList, existing);
    QFETCH(QString, fileName);

    for (const QString &name : existing)
        QVERIFY(writeFile(scratch->filePath(name), QByteArray()));
    const QDateTime start(QDate(2026, 3, 7), QTime(9, 5, 1));
    QCOMPARE(recordingPath(scratch->path(), streamName, start, fileName.mid(fileName.lastIndexOf(QLatin1Char('.')))),
             scratch->filePath(fileName));
}

// A folder that cannot be made stops the recording, not the stream. The
// problem shows until the next start, whose recording has the titles in a CUE
// sheet beside it.
void TestRecorder::keepsStreamingAndWritesACueSheet()
{
    // Not even root can make a folder inside a file.
    const QString file = scratch->filePath(QStringLiteral("a file"));
    QVERIFY(writeFile(file, QByteArray()));
    const QString folder = file + QStringLiteral("/recordings");
    const QString problem = QStringLiteral("Recording stopped: Could not create the folder ") + folder;

    PlayerModel model;
    Player &player = model.engine();
    QSignalSpy problemChanged(&model, &PlayerModel::recordingProblemChanged);
    model.togglePlayPause(recording(folder));
    QVERIFY2(waitUntil(runTimeoutMs, [&] { return logLines(*log).contains(problem); }),
             qPrintable(logLines(*log).join(QLatin1Char('\n'))));
    QTRY_COMPARE(problemChanged.count(), 1);
    QCOMPARE(model.recordingProblem(), problem);
    const double elapsed = player.elapsed();
    QVERIFY(waitUntil(runTimeoutMs, [&] { return player.elapsed() > elapsed + 2.0; }));
    QCOMPARE(player.status(), int(OnAir));
    model.togglePlayPause(QVariantMap());
    QVERIFY(waitForStatus(player, Off));
    QVERIFY(icecast.waitForMount(QLatin1Char('/') + mount, false));

    // Titles from a now-playing file, the first there at the start, and a
    // reconnection, after which the title goes out again: no new track.
    IcecastProxy door;
    QVERIFY(door.listen(icecast.port()));
    const QString nowPlaying = scratch->filePath(QStringLiteral("now-playing.txt"));
    const QStringList titles{QStringLiteral("The \"Artist\" - A Song - Live"), QStringLiteral("Only a title")};
    QVERIFY(writeFile(nowPlaying, titles.constFirst().toUtf8()));
    model.followMetadataFile(nowPlaying);
    model.togglePlayPause(withStream(recording(scratch->path()), {{QStringLiteral("name"), QString()},
                                                                  {QStringLiteral("port"), door.port()},
                                                                  {QStringLiteral("reconnect"), true}}));
    QTRY_COMPARE(problemChanged.count(), 2);
    QCOMPARE(model.recordingProblem(), QString());
    QList<double> elapsedAtTitles;
    for (const QString &title : titles) {
        if (title != titles.constFirst())
            QVERIFY(writeFile(nowPlaying, title.toUtf8()));
        QVERIFY2(waitUntil(runTimeoutMs, [&] { return player.song() == title; }), qPrintable(player.errorText()));
        elapsedAtTitles << player.elapsed();
        QTest::qWait(2000);
    }
    door.dropConnections();
    QVERIFY(waitUntil(runTimeoutMs, [&] { return door.metadataRequests.size() == 3 && player.status() == OnAir; }));
    QTest::qWait(1000);
    model.togglePlayPause(QVariantMap());
    QVERIFY(waitForStatus(player, Off));

    const QString path = recordingIn(scratch->path());
    QVERIFY2(!path.isEmpty(), qPrintable(logLines(*log).join(QLatin1Char('\n'))));
    QFile cue(path.chopped(4) + QStringLiteral(".cue"));
    QVERIFY(cue.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList lines = QString::fromUtf8(cue.readAll()).split(QLatin1Char('\n'));
    const QStringList indexes = lines.filter(QStringLiteral("    INDEX 01 "));
    QCOMPARE(indexes.size(), 2);
    for (int track = 0; track < 2; ++track) {
        const double at = cueSeconds(indexes.at(track));
        QVERIFY2(qAbs(at - elapsedAtTitles.at(track)) <= 1.0,
                 qPrintable(QStringLiteral("%1 s, on the air %2 s").arg(at).arg(elapsedAtTitles.at(track))));
        lines.replace(lines.indexOf(indexes.at(track)), QStringLiteral("    INDEX 01 (time)"));
    }
    QCOMPARE(lines, QStringList({QStringLiteral("TITLE \"Tavolin Encoder\""),
                                 QStringLiteral("FILE \"%1\" MP3").arg(QFileInfo(path).fileName()),
                                 QStringLiteral("  TRACK 01 AUDIO"), QStringLiteral("    PERFORMER \"The 'Artist'\""),
                                 QStringLiteral("    TITLE \"A Song - Live\""), QStringLiteral("    INDEX 01 (time)"),
                                 QStringLiteral("  TRACK 02 AUDIO"), QStringLiteral("    TITLE \"Only a title\""),
                                 QStringLiteral("    INDEX 01 (time)"), QString()}));
}

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
