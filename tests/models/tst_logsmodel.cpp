#include "models/logsmodel.h"

#include "playerharness.h"

#include <QAbstractItemModelTester>
#include <QAtomicInt>
#include <QThread>
#include <QtTest>

extern "C" {
#include <libavutil/log.h>
}

#include <memory>
#include <utility>

namespace {

const QStringList welcome{QStringLiteral("Welcome to the Tavolin encoder!"), QStringLiteral("Version: 1.1.0")};

} // namespace

class TestLogsModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void storesLines_data();
    void storesLines();
    void keepsTheNewest4096LinesInTheirOrderFromAWorker();
    void survivesDestructionWhileAWorkerLogs();
    void takesALineLoggedByItsOwnObserver();

private:
    std::unique_ptr<LogsModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

void TestLogsModel::initTestCase()
{
    captureDebugOutput();
}

void TestLogsModel::init()
{
    capturedDebugOutput().clear();
    tester.reset();
    model = std::make_unique<LogsModel>();
    tester = std::make_unique<QAbstractItemModelTester>(model.get(),
                                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestLogsModel::storesLines_data()
{
    QTest::addColumn<bool>("throughFFmpeg");
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("stored");

    const QByteArray untrimmed("  \t Caf\xc3\xa9 \"a\"\nb \\ \n");
    const QString trimmed = QStringLiteral("Caf\u00e9 \"a\"\nb \\");
    QTest::newRow("log: trimmed") << false << 0 << untrimmed << trimmed;
    QTest::newRow("ffmpeg: trimmed") << true << AV_LOG_WARNING << untrimmed << trimmed;
    QTest::newRow("ffmpeg: cut to its line buffer") << true << AV_LOG_ERROR << QByteArray(3000, 'x')
                                                    << QString(1023, QLatin1Char('x'));
    QTest::newRow("ffmpeg: info shown") << true << AV_LOG_INFO << QByteArray("info\n") << QStringLiteral("info");
    QTest::newRow("ffmpeg: verbose dropped") << true << AV_LOG_VERBOSE << QByteArray("verbose\n") << QString();
}

void TestLogsModel::storesLines()
{
    QFETCH(bool, throughFFmpeg);
    QFETCH(int, level);
    QFETCH(QByteArray, message);
    QFETCH(QString, stored);

    if (throughFFmpeg)
        av_log(nullptr, level, "%s", message.constData());
    else
        LogsModel::log(QString::fromUtf8(message));
    QCOMPARE(logLines(*model).mid(2).join(QLatin1Char('\n')), stored);
    // Each appended line is echoed unquoted.
    QCOMPARE(capturedDebugOutput(), stored.isEmpty() ? QStringList() : QStringList(stored));
}

void TestLogsModel::keepsTheNewest4096LinesInTheirOrderFromAWorker()
{
    constexpr int logged = LogsModel::MaximumEntries + 100;
    std::unique_ptr<QThread> worker(QThread::create([] {
        for (int i = 0; i < logged; ++i) {
            if (i % 2)
                LogsModel::log(QStringLiteral("line %1").arg(i));
            else
                av_log(nullptr, AV_LOG_INFO, "line %d\n", i);
        }
    }));
    worker->start();
    QVERIFY(worker->wait(30000));
    // Nothing arrives before the main thread handles its events.
    QCOMPARE(logLines(*model), welcome);
    QStringList newest;
    for (int i = logged - LogsModel::MaximumEntries; i < logged; ++i)
        newest << QStringLiteral("line %1").arg(i);
    QTRY_COMPARE(logLines(*model), newest);
}

void TestLogsModel::survivesDestructionWhileAWorkerLogs()
{
    // Lines logged before, during and after a model's destruction never reach
    // it nor the next one.
    QAtomicInt running(1);
    std::unique_ptr<QThread> worker(QThread::create([&running] {
        for (int i = 0; i < 200000 && running.loadAcquire(); ++i)
            av_log(nullptr, AV_LOG_WARNING, "worker %d\n", i);
    }));
    tester.reset();
    worker->start();
    for (int round = 0; round < 50; ++round) {
        model = std::make_unique<LogsModel>();
        QThread::msleep(2);
        model.reset();
        QCoreApplication::processEvents();
    }
    running.storeRelease(0);
    QVERIFY(worker->wait(30000));
    init();
    QCoreApplication::processEvents();
    QCOMPARE(logLines(*model), welcome);
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
    QCOMPARE(logLines(*model).mid(2), QStringList({QStringLiteral("question"), QStringLiteral("answer")}));
}

QTEST_GUILESS_MAIN(TestLogsModel)
#include "tst_logsmodel.moc"
