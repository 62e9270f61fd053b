#include "models/logsmodel.h"

#include "debugcapture.h"

#include <QAbstractItemModelTester>
#include <QAtomicInt>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <memory>
#include <utility>

namespace {

QStringList lines(const LogsModel &model)
{
    return model.data(model.index(0, 0), Qt::DisplayRole).toString().split(QLatin1Char('\n'));
}

QString lastLine(const LogsModel &model)
{
    return lines(model).constLast();
}

// av_log with a va_list-free signature for the data-driven tests.
void ffmpegLog(void *context, int level, const char *text)
{
    av_log(context, level, "%s", text);
}

class ProbedLogsModel : public LogsModel
{
public:
    using LogsModel::createIndex;
};

} // namespace

class TestLogsModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsWithTheWelcomeLines();
    void dataAnswersOnlyRowZeroDisplay_data();
    void dataAnswersOnlyRowZeroDisplay();
    void keepsTheNewest4096Lines();
    void trimsThroughBothDoors_data();
    void trimsThroughBothDoors();
    void filtersFFmpegLevels_data();
    void filtersFFmpegLevels();
    void prefixesOnlyTheFirstPieceOfAnFFmpegLine();
    void cutsLongFFmpegLinesToTheBuffer();
    void keepsTheOrderOfAWorkerThreadBurst();
    void dropsLinesLoggedWithoutAModel();
    void survivesDestructionWhileAWorkerLogs();
    void signalsOnceForEachAppendedLine();
    void takesALineLoggedByItsOwnObserver();
    void echoesEachAppendedLineUnquoted();

private:
    std::unique_ptr<ProbedLogsModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

void TestLogsModel::initTestCase()
{
    // The tests append thousands of lines, each echoed to the debug output.
    captureDebugOutput();
}

void TestLogsModel::init()
{
    capturedDebugOutput().clear();
    model = std::make_unique<ProbedLogsModel>();
    tester = std::make_unique<QAbstractItemModelTester>(model.get(),
                                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestLogsModel::cleanup()
{
    tester.reset();
    model.reset();
}

void TestLogsModel::startsWithTheWelcomeLines()
{
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->data(model->index(0, 0)).toString(),
             QStringLiteral("Welcome to the Tavolin encoder!\nVersion: 1.1.0"));
    QVERIFY(capturedDebugOutput().isEmpty());
}

void TestLogsModel::dataAnswersOnlyRowZeroDisplay_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("answered");

    QTest::newRow("row 0, display") << 0 << 0 << int(Qt::DisplayRole) << true;
    QTest::newRow("row 0, edit") << 0 << 0 << int(Qt::EditRole) << false;
    QTest::newRow("row 0, tool tip") << 0 << 0 << int(Qt::ToolTipRole) << false;
    QTest::newRow("row 0, user role") << 0 << 0 << int(Qt::UserRole) << false;
    QTest::newRow("row 1") << 1 << 0 << int(Qt::DisplayRole) << false;
    QTest::newRow("column 1") << 0 << 1 << int(Qt::DisplayRole) << false;
    QTest::newRow("invalid index") << -1 << -1 << int(Qt::DisplayRole) << false;
}

void TestLogsModel::dataAnswersOnlyRowZeroDisplay()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, role);
    QFETCH(bool, answered);

    // createIndex makes the indexes that index() refuses, as a careless view might.
    const QModelIndex index = row < 0 ? QModelIndex() : model->createIndex(row, column);
    QCOMPARE(model->data(index, role).isValid(), answered);
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->rowCount(index), index.isValid() ? 0 : 1);
}

void TestLogsModel::keepsTheNewest4096Lines()
{
    for (int i = 1; i <= LogsModel::MaximumEntries - 1; ++i)
        LogsModel::log(QStringLiteral("line %1").arg(i));
    QStringList kept = lines(*model);
    QCOMPARE(kept.size(), LogsModel::MaximumEntries);
    QCOMPARE(kept.first(), QStringLiteral("Version: 1.1.0"));
    QCOMPARE(kept.last(), QStringLiteral("line 4095"));

    LogsModel::log(QStringLiteral("line 4096"));
    kept = lines(*model);
    QCOMPARE(kept.size(), LogsModel::MaximumEntries);
    QCOMPARE(kept.first(), QStringLiteral("line 1"));
    QCOMPARE(kept.last(), QStringLiteral("line 4096"));
}

void TestLogsModel::trimsThroughBothDoors_data()
{
    QTest::addColumn<bool>("throughFFmpeg");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("stored");

    for (const bool ffmpeg : {false, true}) {
        const char *door = ffmpeg ? "ffmpeg" : "log";
        QTest::addRow("%s: blanks and newline", door) << ffmpeg << QByteArray("  \t padded line \n")
                                                      << QStringLiteral("padded line");
        QTest::addRow("%s: inner newline kept", door) << ffmpeg << QByteArray(" first\nsecond \n")
                                                      << QStringLiteral("first\nsecond");
        QTest::addRow("%s: only blanks", door) << ffmpeg << QByteArray(" \n") << QString();
        QTest::addRow("%s: utf-8", door) << ffmpeg << QByteArray("Caf\xc3\xa9 \xe6\x97\xa5\n")
                                         << QStringLiteral("Caf\u00e9 \u65e5");
    }
}

void TestLogsModel::trimsThroughBothDoors()
{
    QFETCH(bool, throughFFmpeg);
    QFETCH(QByteArray, message);
    QFETCH(QString, stored);

    if (throughFFmpeg)
        ffmpegLog(nullptr, AV_LOG_WARNING, message.constData());
    else
        LogsModel::log(QString::fromUtf8(message));
    QCOMPARE(model->data(model->index(0, 0)).toString(),
             QStringLiteral("Welcome to the Tavolin encoder!\nVersion: 1.1.0\n") + stored);
}

void TestLogsModel::filtersFFmpegLevels_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("shown");

    QTest::newRow("panic 0") << AV_LOG_PANIC << true;
    QTest::newRow("error 16") << AV_LOG_ERROR << true;
    QTest::newRow("warning 24") << AV_LOG_WARNING << true;
    QTest::newRow("info 32") << AV_LOG_INFO << true;
    QTest::newRow("verbose 40") << AV_LOG_VERBOSE << false;
    QTest::newRow("debug 48") << AV_LOG_DEBUG << false;
}

void TestLogsModel::filtersFFmpegLevels()
{
    QFETCH(int, level);
    QFETCH(bool, shown);

    av_log(nullptr, level, "message at level %d\n", level);
    QCOMPARE(lastLine(*model) == QStringLiteral("message at level %1").arg(level), shown);
    QCOMPARE(lines(*model).size(), shown ? 3 : 2);
}

void TestLogsModel::prefixesOnlyTheFirstPieceOfAnFFmpegLine()
{
    AVFormatContext *context = avformat_alloc_context();
    QVERIFY(context);
    av_log(context, AV_LOG_WARNING, "first piece, ");
    av_log(context, AV_LOG_WARNING, "second piece\n");
    av_log(context, AV_LOG_WARNING, "next line\n");
    avformat_free_context(context);

    const QStringList logged = lines(*model).mid(2);
    QCOMPARE(logged.size(), 3);
    QVERIFY2(logged.at(0).startsWith(QStringLiteral("[NULL @ 0x")), qPrintable(logged.at(0)));
    QVERIFY(logged.at(0).endsWith(QStringLiteral("] first piece,")));
    QCOMPARE(logged.at(1), QStringLiteral("second piece"));
    QVERIFY2(logged.at(2).startsWith(QStringLiteral("[NULL @ 0x")), qPrintable(logged.at(2)));
}

void TestLogsModel::cutsLongFFmpegLinesToTheBuffer()
{
    const QByteArray longText(3000, 'x');
    ffmpegLog(nullptr, AV_LOG_ERROR, longText.constData());
    QCOMPARE(lastLine(*model), QString(1023, QLatin1Char('x')));
}

void TestLogsModel::keepsTheOrderOfAWorkerThreadBurst()
{
    constexpr int burst = 2000;
    std::unique_ptr<QThread> worker(QThread::create([] {
        for (int i = 0; i < burst; ++i) {
            if (i % 2)
                LogsModel::log(QStringLiteral("burst %1").arg(i));
            else
                av_log(nullptr, AV_LOG_INFO, "burst %d\n", i);
        }
    }));
    worker->start();
    QVERIFY(worker->wait(30000));
    // Nothing arrives before the main thread handles its events.
    QCOMPARE(lines(*model).size(), 2);
    QTRY_COMPARE(lines(*model).size(), 2 + burst);
    const QStringList logged = lines(*model).mid(2);
    for (int i = 0; i < burst; ++i)
        QCOMPARE(logged.at(i), QStringLiteral("burst %1").arg(i));
}

void TestLogsModel::dropsLinesLoggedWithoutAModel()
{
    tester.reset();
    model.reset();
    LogsModel::log(QStringLiteral("lost line"));
    av_log(nullptr, AV_LOG_ERROR, "lost ffmpeg line\n");
    std::unique_ptr<QThread> worker(QThread::create([] { LogsModel::log(QStringLiteral("lost worker line")); }));
    worker->start();
    QVERIFY(worker->wait(5000));

    init();
    QCoreApplication::processEvents();
    QCOMPARE(lines(*model).size(), 2);
    QVERIFY(capturedDebugOutput().isEmpty());
}

void TestLogsModel::survivesDestructionWhileAWorkerLogs()
{
    // Lines queued to a model that is then destroyed, and lines logged during
    // and after its destruction, must never reach it.
    QAtomicInt running(1);
    std::unique_ptr<QThread> worker(QThread::create([&running] {
        for (int i = 0; i < 200000 && running.loadAcquire(); ++i) {
            LogsModel::log(QStringLiteral("worker %1").arg(i));
            av_log(nullptr, AV_LOG_WARNING, "ffmpeg worker %d\n", i);
        }
    }));
    tester.reset();
    worker->start();
    for (int round = 0; round < 50; ++round) {
        model = std::make_unique<ProbedLogsModel>();
        QCoreApplication::processEvents();
        QThread::msleep(2);
        model.reset();
        QCoreApplication::processEvents();
    }
    running.storeRelease(0);
    QVERIFY(worker->wait(30000));
    QCoreApplication::processEvents();
    init();
    QCoreApplication::processEvents();
    QCOMPARE(lines(*model).size(), 2);
}

void TestLogsModel::signalsOnceForEachAppendedLine()
{
    QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
    for (int i = 0; i < 5; ++i)
        LogsModel::log(QStringLiteral("line %1").arg(i));
    av_log(nullptr, AV_LOG_INFO, "ffmpeg line\n");
    av_log(nullptr, AV_LOG_DEBUG, "dropped line\n");
    QCOMPARE(changed.count(), 6);
    for (const QList<QVariant> &arguments : qAsConst(changed)) {
        QCOMPARE(arguments.at(0).toModelIndex(), model->index(0, 0));
        QCOMPARE(arguments.at(1).toModelIndex(), model->index(0, 0));
        QVERIFY(arguments.at(2).value<QVector<int>>().isEmpty());
    }
}

void TestLogsModel::takesALineLoggedByItsOwnObserver()
{
    // A view that logs when the log changes must not deadlock the main thread.
    bool answered = false;
    connect(model.get(), &QAbstractItemModel::dataChanged, this, [&answered] {
        if (!std::exchange(answered, true))
            LogsModel::log(QStringLiteral("answer"));
    });
    LogsModel::log(QStringLiteral("question"));
    QCOMPARE(lines(*model).mid(2), QStringList({QStringLiteral("question"), QStringLiteral("answer")}));
}

void TestLogsModel::echoesEachAppendedLineUnquoted()
{
    LogsModel::log(QStringLiteral("  say \"hello\"\tto \\ everyone \n"));
    av_log(nullptr, AV_LOG_WARNING, "ffmpeg says \"hi\"\n");
    QCOMPARE(capturedDebugOutput(), QStringList({QStringLiteral("say \"hello\"\tto \\ everyone"),
                                       QStringLiteral("ffmpeg says \"hi\"")}));
}

QTEST_GUILESS_MAIN(TestLogsModel)
#include "tst_logsmodel.moc"
