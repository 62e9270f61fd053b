#include "models/logsmodel.h"
#include "models/playermodel.h"

#include "debugcapture.h"
#include "pulseserver.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <limits>
#include <thread>

namespace {

QVariantList rowValues(const PlayerModel &model)
{
    QVariantList values;
    for (int role = PlayerModel::SongRole; role <= PlayerModel::IsChangingRole; ++role)
        values << model.data(model.index(0, 0), role);
    return values;
}

int countLines(const LogsModel &log, const QString &start)
{
    const QStringList lines = log.data(log.index(0, 0)).toString().split(QLatin1Char('\n'));
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
    void showsStatusAndElapsedTexts_data();
    void showsStatusAndElapsedTexts();
    void listsLiveSourcesOnce_data();
    void listsLiveSourcesOnce();
    void sendsTheWatchedFilesFirstLine_data();
    void sendsTheWatchedFilesFirstLine();
    void startsAtLogonWhenAsked();

private:
    void writeFile(const QString &name, const QByteArray &content);

    PulseServer pulse;
    QTemporaryDir folder;
};

void TestPlayerModel::initTestCase()
{
    QVERIFY2(pulse.start(), qPrintable(pulse.errorString()));
    captureDebugOutput();
}

void TestPlayerModel::writeFile(const QString &name, const QByteArray &content)
{
    QFile file(folder.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void TestPlayerModel::rowFollowsTheEngine()
{
    PlayerModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(rowValues(model), QVariantList({QStringLiteral("--"), QStringLiteral("--"), QStringLiteral("Off"), 0, 0,
                                             false, false, false}));

    // One notification per change, none of them on the worker's thread.
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    std::thread worker([&model] {
        for (int i = 1; i <= 10; ++i)
            model.engine().setElapsed(i + 3715.9);
    });
    worker.join();
    QCOMPARE(changes.count(), 0);
    QTRY_COMPARE(changes.count(), 10);
    QCOMPARE(model.data(model.index(0, 0), PlayerModel::PositionRole), QVariant(QStringLiteral("0000d, 01:02:05")));

    // The progress text shows while changing; off the air a title is refused
    // with a report: the error state.
    model.engine().setProgressText(QStringLiteral("Connecting to remote server"));
    model.engine().requestStop();
    QCOMPARE(rowValues(model), QVariantList({QStringLiteral("--"), QStringLiteral("Connecting to remote server"),
                                             QStringLiteral("--"), 0, 0, false, false, true}));
    model.metadataUpdate(QStringLiteral("Artist - Title"));
    QCOMPARE(rowValues(model), QVariantList({QStringLiteral("--"), notConnected, QStringLiteral("Error"), 0, 0, false,
                                             true, false}));
}

void TestPlayerModel::showsStatusAndElapsedTexts_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<QString>("elapsedText");

    const QString largest = QStringLiteral("9999d, 23:59:59");
    QTest::newRow("changing, zero") << int(Changing) << "--" << 0.0 << "--";
    QTest::newRow("off, under a minute") << int(Off) << "Off" << 59.99 << "0000d, 00:00:59";
    QTest::newRow("on air, an hour") << int(OnAir) << "On Air" << 3725.9 << "0000d, 01:02:05";
    QTest::newRow("error, a day") << int(Error) << "Error" << 90061.0 << "0001d, 01:01:01";
    QTest::newRow("unknown, the last second") << 4 << "N/A" << 863999999.5 << largest;
    QTest::newRow("unknown, 10000 days") << -1 << "N/A" << 864000000.0 << largest;
    QTest::newRow("infinite") << 7 << "N/A" << std::numeric_limits<double>::infinity() << largest;
    QTest::newRow("negative time") << 7 << "N/A" << -5.0 << "--";
    QTest::newRow("not a number") << 7 << "N/A" << std::numeric_limits<double>::quiet_NaN() << "--";
}

void TestPlayerModel::showsStatusAndElapsedTexts()
{
    QFETCH(int, status);
    QFETCH(QString, statusText);
    QFETCH(double, elapsed);
    QFETCH(QString, elapsedText);

    QCOMPARE(PlayerModel::statusText(status), statusText);
    QCOMPARE(PlayerModel::elapsedText(elapsed), elapsedText);
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

    QCOMPARE(sources.userType(), int(QMetaType::QVariantList));
    QStringList names;
    for (const QVariant &source : sources.toList()) {
        QCOMPARE(source.toMap().keys(), QStringList({QStringLiteral("deviceName"), QStringLiteral("index")}));
        names << source.toMap().value(QStringLiteral("index")).toString();
    }
    QCOMPARE(names, serverRunning ? pulse.sources() : QStringList());
    QCOMPARE(countLines(log, QStringLiteral("Initializing ffmpeg avdevices, version: ")), 1);
    QCOMPARE(model.engine().status(), int(serverRunning ? Off : Error));
    if (!serverRunning) {
        QVERIFY2(model.engine().errorText().startsWith(QStringLiteral("Error while listing devices occurred: ")),
                 qPrintable(model.engine().errorText()));
    }
}

void TestPlayerModel::sendsTheWatchedFilesFirstLine_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("updates");
    QTest::addColumn<bool>("watched");

    const QString file = QUrl::fromLocalFile(folder.filePath(QStringLiteral("now-playing.txt"))).toString();
    const QString missing = QUrl::fromLocalFile(folder.filePath(QStringLiteral("missing.txt"))).toString();
    QTest::newRow("first line") << file << QByteArray("Artist - Title\nNext\n") << 1 << true;
    QTest::newRow("no line end") << file << QByteArray("Artist - Title") << 1 << true;
    QTest::newRow("empty file") << file << QByteArray() << 0 << true;
    QTest::newRow("empty first line") << file << QByteArray("\nArtist - Title\n") << 0 << true;
    QTest::newRow("missing file") << missing << QByteArray() << 0 << false;
    QTest::newRow("not a file URL") << QStringLiteral("http://127.0.0.1:9/now-playing.txt")
                                    << QByteArray("Artist - Title\n") << 0 << false;
}

void TestPlayerModel::sendsTheWatchedFilesFirstLine()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, content);
    QFETCH(int, updates);
    QFETCH(bool, watched);

    LogsModel log;
    writeFile(QStringLiteral("now-playing.txt"), content);
    // Off the air every update is refused with a report, which counts them.
    PlayerModel model;
    model.setMetadataFile(url);
    QCOMPARE(countLines(log, notConnected), updates);
    if (watched) {
        // Each rewrite is sent, the same title again too.
        for (int rewrite = 1; rewrite <= 2; ++rewrite) {
            writeFile(QStringLiteral("now-playing.txt"), "Artist - Title\n");
            QTRY_COMPARE(countLines(log, notConnected), updates + rewrite);
        }
    }
}

void TestPlayerModel::startsAtLogonWhenAsked()
{
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("autostart")));
    writeFile(QStringLiteral("autostart/other.desktop"), QByteArray());
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

QTEST_GUILESS_MAIN(TestPlayerModel)
#include "tst_playermodel.moc"
