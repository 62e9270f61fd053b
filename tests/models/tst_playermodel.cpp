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

QVariant role(const PlayerModel &model, int role)
{
    return model.data(model.index(0, 0), role);
}

QVariantList rowValues(const PlayerModel &model)
{
    QVariantList values;
    for (int r = PlayerModel::SongRole; r <= PlayerModel::IsChangingRole; ++r)
        values << role(model, r);
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
    void init();

    void startsWithAnIdleRow();
    void showsStatusAndElapsedTexts_data();
    void showsStatusAndElapsedTexts();
    void positionFollowsTheStatus();
    void deliversEngineChangesOnItsOwnThread();
    void listsTheSoundServersSourcesOnce();
    void listsNothingWithoutASoundServer();
    void sendsTheWatchedFilesFirstLine_data();
    void sendsTheWatchedFilesFirstLine();
    void sendsEveryChangeOfTheWatchedFile();
    void startsAtLogonWhenAsked();

private:
    PulseServer pulse;
    std::unique_ptr<LogsModel> log;
    QTemporaryDir folder;
};

void TestPlayerModel::initTestCase()
{
    QVERIFY2(pulse.start(), qPrintable(pulse.errorString()));
    captureDebugOutput();
}

void TestPlayerModel::init()
{
    log.reset();
    log = std::make_unique<LogsModel>();
}

void TestPlayerModel::startsWithAnIdleRow()
{
    PlayerModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.roleNames().size(), 8);
    QCOMPARE(rowValues(model), QVariantList({QStringLiteral("--"), QStringLiteral("--"), QStringLiteral("Off"), 0, 0,
                                             false, false, false}));
    QVERIFY(!role(model, Qt::DisplayRole).isValid());
    QVERIFY(!role(model, PlayerModel::IsChangingRole + 1).isValid());
}

void TestPlayerModel::showsStatusAndElapsedTexts_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<QString>("elapsedText");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const QString largest = QStringLiteral("9999d, 23:59:59");
    QTest::newRow("changing, zero") << int(Changing) << "--" << 0.0 << "--";
    QTest::newRow("off, under a minute") << int(Off) << "Off" << 59.99 << "0000d, 00:00:59";
    QTest::newRow("on air, an hour") << int(OnAir) << "On Air" << 3725.9 << "0000d, 01:02:05";
    QTest::newRow("error, a day") << int(Error) << "Error" << 90061.0 << "0001d, 01:01:01";
    QTest::newRow("unknown, the last second") << 4 << "N/A" << 863999999.5 << largest;
    QTest::newRow("unknown, 10000 days") << -1 << "N/A" << 864000000.0 << largest;
    QTest::newRow("beyond int") << 7 << "N/A" << 1e300 << largest;
    QTest::newRow("infinite") << 7 << "N/A" << infinity << largest;
    QTest::newRow("negative") << 7 << "N/A" << -5.0 << "--";
    QTest::newRow("not a number") << 7 << "N/A" << nan << "--";
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

void TestPlayerModel::positionFollowsTheStatus()
{
    PlayerModel model;
    Player &player = model.engine();
    player.setElapsed(3725.9);
    QCOMPARE(role(model, PlayerModel::PositionRole).toString(), QStringLiteral("0000d, 01:02:05"));

    player.setProgressText(QStringLiteral("Connecting to remote server"));
    player.requestStop();
    QCOMPARE(rowValues(model), QVariantList({QStringLiteral("--"), QStringLiteral("Connecting to remote server"),
                                             QStringLiteral("--"), 0, 0, false, false, true}));

    // Off the air a title is refused with a report: the error state.
    model.metadataUpdate(QStringLiteral("Artist - Title"));
    QCOMPARE(rowValues(model), QVariantList({QStringLiteral("--"), notConnected, QStringLiteral("Error"), 0, 0, false,
                                             true, false}));
}

void TestPlayerModel::deliversEngineChangesOnItsOwnThread()
{
    PlayerModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QVector<QThread *> deliveringThreads;
    connect(&model, &QAbstractItemModel::dataChanged, this,
            [&] { deliveringThreads.append(QThread::currentThread()); }, Qt::DirectConnection);

    std::thread worker([&model] {
        for (int i = 1; i <= 10; ++i)
            model.engine().setElapsed(i);
    });
    worker.join();
    QCOMPARE(changes.count(), 0);
    QTRY_COMPARE(changes.count(), 10);
    for (const QList<QVariant> &change : qAsConst(changes)) {
        QCOMPARE(change.at(0).toModelIndex(), model.index(0, 0));
        QCOMPARE(change.at(1).toModelIndex(), model.index(0, 0));
        QVERIFY(change.at(2).value<QVector<int>>().isEmpty());
    }
    QCOMPARE(deliveringThreads, QVector<QThread *>(10, thread()));
}

void TestPlayerModel::listsTheSoundServersSourcesOnce()
{
    PlayerModel model;
    const QVariantList sources = model.liveSources().toList();
    QCOMPARE(model.liveSources().toList(), sources);
    QCOMPARE(countLines(*log, QStringLiteral("Initializing ffmpeg avdevices, version: ")), 1);

    QStringList names;
    for (const QVariant &source : sources) {
        const QVariantMap entry = source.toMap();
        QCOMPARE(entry.keys(), QStringList({QStringLiteral("deviceName"), QStringLiteral("index")}));
        QVERIFY(!entry.value(QStringLiteral("deviceName")).toString().isEmpty());
        names << entry.value(QStringLiteral("index")).toString();
    }
    QCOMPARE(names, pulse.sources());
    QCOMPARE(model.engine().status(), int(Off));
}

void TestPlayerModel::listsNothingWithoutASoundServer()
{
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(folder.filePath(QStringLiteral("no-server"))));
    PlayerModel model;
    const QVariant sources = model.liveSources();
    qputenv("PULSE_SERVER", server);

    QCOMPARE(sources.userType(), int(QMetaType::QVariantList));
    QVERIFY(sources.toList().isEmpty());
    QCOMPARE(model.engine().status(), int(Error));
    QVERIFY2(model.engine().errorText().startsWith(QStringLiteral("Error while listing devices occurred: ")),
             qPrintable(model.engine().errorText()));
    QCOMPARE(countLines(*log, QStringLiteral("No live sources available!")), 0);
}

void TestPlayerModel::sendsTheWatchedFilesFirstLine_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("updates");

    const QString file = QUrl::fromLocalFile(folder.filePath(QStringLiteral("now-playing.txt"))).toString();
    QTest::newRow("first line") << file << QByteArray("Artist - Title\nNext\n") << 1;
    QTest::newRow("no line end") << file << QByteArray("Artist - Title") << 1;
    QTest::newRow("empty file") << file << QByteArray() << 0;
    QTest::newRow("empty first line") << file << QByteArray("\nArtist - Title\n") << 0;
    QTest::newRow("missing file")
        << QUrl::fromLocalFile(folder.filePath(QStringLiteral("missing.txt"))).toString() << QByteArray() << 0;
    QTest::newRow("not a file URL") << QStringLiteral("http://127.0.0.1:9/now-playing.txt")
                                    << QByteArray("Artist - Title\n") << 0;
}

void TestPlayerModel::sendsTheWatchedFilesFirstLine()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, content);
    QFETCH(int, updates);

    QFile file(folder.filePath(QStringLiteral("now-playing.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();

    // Off the air every update is refused with a report, which counts them.
    PlayerModel model;
    model.setMetadataFile(url);
    QCOMPARE(countLines(*log, notConnected), updates);
}

void TestPlayerModel::sendsEveryChangeOfTheWatchedFile()
{
    const QString path = folder.filePath(QStringLiteral("watched.txt"));
    const auto write = [&path](const QByteArray &content) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    };
    write("First\n");
    PlayerModel model;
    model.setMetadataFile(QUrl::fromLocalFile(path).toString());
    QCOMPARE(countLines(*log, notConnected), 1);

    write("First\n");
    QTRY_COMPARE(countLines(*log, notConnected), 2);
    write("\nSecond\n");
    write("Third\n");
    QTRY_COMPARE(countLines(*log, notConnected), 3);
}

void TestPlayerModel::startsAtLogonWhenAsked()
{
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.filePath(QStringLiteral("config"))));
    const QString autostart = folder.filePath(QStringLiteral("config/autostart"));
    const QString entry = autostart + QStringLiteral("/TavolinEncoder.desktop");
    QVERIFY(QDir().mkpath(autostart));
    QFile other(autostart + QStringLiteral("/other.desktop"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();

    PlayerModel model;
    const QString exec = QStringLiteral("Exec=\"%1\"").arg(QCoreApplication::applicationFilePath());
    for (const bool on : {true, true, false, false}) {
        model.setAutoStart(on);
        QFile file(entry);
        QCOMPARE(file.exists(), on);
        if (on) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
            QCOMPARE(lines.count(exec), 1);
            QVERIFY(lines.contains(QStringLiteral("[Desktop Entry]")));
        }
        QCOMPARE(QDir(autostart).entryList(QDir::Files).size(), on ? 2 : 1);
    }
    QVERIFY(other.exists());
    qputenv("XDG_CONFIG_HOME", configHome);
}

QTEST_GUILESS_MAIN(TestPlayerModel)
#include "tst_playermodel.moc"
