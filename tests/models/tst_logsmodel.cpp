#include "models/logsmodel.h"

#include "debugcapture.h"

#include <QAbstractItemModelTester>
#include <QAtomicInt>
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

// av_log with a va_list-free signature for the data-driven tests.
void ffmpegLog(int level, const char *text)
{
    av_log(nullptr, level, "%s", text);
}

} // namespace

class TestLogsModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keepsTheNewest4096Lines();
    void takesLinesThroughBothDoors_data();
    void takesLinesThroughBothDoors();
    void prefixesOnlyTheFirstPieceOfAnFFmpegLine();
    void keepsTheOrderOfAWorkerThreadBurst();
    void survivesDestructionWhileAWorkerLogs();
    void takesALineLoggedByItsOwnObserver();

private:
    std::unique_ptr<LogsModel> model;
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
    model = std::make_unique<LogsModel>();
    tester = std::make_unique<QAbstractItemModelTester>(model.get(),
                                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestLogsModel::cleanup()
{
    tester.reset();
    model.reset();
}

void TestLogsModel::keepsTheNewest4096Lines()
{
    QCOMPARE(lines(*model), QStringList({QStringLiteral("Welcome to the Tavolin encoder!"),
                                         QStringLiteral("Version: 1.1.0")}));
    for (int i = 1; i <= LogsModel::MaximumEntries; ++i)
        LogsModel::log(QStringLiteral("line %1").arg(i));
    const QStringList kept = lines(*model);
    QCOMPARE(kept.size(), LogsModel::MaximumEntries);
    QCOMPARE(kept.first(), QStringLiteral("line 1"));
    QCOMPARE(kept.last(), QStringLiteral("line 4096"));
}

void TestLogsModel::takesLinesThroughBothDoors_data()
{
    QTest::addColumn<bool>("throughFFmpeg");
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("stored");

    for (const bool ffmpeg : {false, true}) {
        const char *door = ffmpeg ? "ffmpeg" : "log";
        QTest::addRow("%s: trimmed", door) << ffmpeg << AV_LOG_WARNING << QByteArray("  \t say \"hi\" \\ \n")
                                           << QStringLiteral("say \"hi\" \\");
        QTest::addRow("%s: inner newline kept", door) << ffmpeg << AV_LOG_WARNING << QByteArray(" a\nb \n")
                                                      << QStringLiteral("a\nb");
        QTest::addRow("%s: utf-8", door) << ffmpeg << AV_LOG_WARNING << QByteArray("Caf\xc3\xa9 \xe6\x97\xa5\n")
                                         << QStringLiteral("Caf\u00e9 \u65e5");
    }
    QTest::newRow("ffmpeg: cut to its line buffer") << true << AV_LOG_ERROR << QByteArray(3000, 'x')
                                                    << QString(1023, QLatin1Char('x'));
    QTest::newRow("ffmpeg: info shown") << true << AV_LOG_INFO << QByteArray("info\n") << QStringLiteral("info");
    QTest::newRow("ffmpeg: verbose dropped") << true << AV_LOG_VERBOSE << QByteArray("verbose\n") << QString();
    QTest::newRow("ffmpeg: debug dropped") << true << AV_LOG_DEBUG << QByteArray("debug\n") << QString();
}

void TestLogsModel::takesLinesThroughBothDoors()
{
    QFETCH(bool, throughFFmpeg);
    QFETCH(int, level);
    QFETCH(QByteArray, message);
    QFETCH(QString, stored);

    if (throughFFmpeg)
        ffmpegLog(level, message.constData());
    else
        LogsModel::log(QString::fromUtf8(message));
    const QStringList expected = stored.isEmpty() ? QStringList() : QStringList(stored);
    QCOMPARE(lines(*model).mid(2).join(QLatin1Char('\n')), stored);
    // Each appended line is echoed unquoted.
    QCOMPARE(capturedDebugOutput(), expected);
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

void TestLogsModel::survivesDestructionWhileAWorkerLogs()
{
    // Lines queued to a model that is then destroyed, and lines logged during
    // and after its destruction, never reach it nor the next one.
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
        model = std::make_unique<LogsModel>();
        QCoreApplication::processEvents();
        QThread::msleep(2);
        model.reset();
        QCoreApplication::processEvents();
    }
    running.storeRelease(0);
    QVERIFY(worker->wait(30000));
    LogsModel::log(QStringLiteral("lost line"));
    QCoreApplication::processEvents();
    init();
    QCoreApplication::processEvents();
    QCOMPARE(lines(*model).size(), 2);
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

QTEST_GUILESS_MAIN(TestLogsModel)
#include "tst_logsmodel.moc"
