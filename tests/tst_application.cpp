#include "icecastserver.h"
#include "mediaprobe.h"
#include "pulseserver.h"
#include "waituntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The real executable, as a user starts it, with the stream started by itself
// from the stored settings.
class TestApplication : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void streamsAtStartAndClosesOnSignal_data();
    void streamsAtStartAndClosesOnSignal();

private:
    IcecastServer icecast;
    PulseServer pulse;
};

void TestApplication::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(TAVOLIN_EXECUTABLE)), TAVOLIN_EXECUTABLE);
    QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
    // The desktop-like device delivers every 50 ms; the 2-s fragments of the
    // plain tone source could hold a stop past the window's shutdown limit.
    pulse.addDesktopSource();
    QVERIFY2(pulse.start(), qPrintable(pulse.errorString()));
}

void TestApplication::cleanupTestCase()
{
    pulse.stop();
    icecast.stop();
}

void TestApplication::cleanup()
{
    QVERIFY(pulse.setDesktopSourceSuspended(false));
}

void TestApplication::streamsAtStartAndClosesOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("mount");
    QTest::addColumn<bool>("deviceStalled");

    QTest::newRow("SIGTERM") << int(SIGTERM) << QStringLiteral("live-term") << false;
    QTest::newRow("SIGINT") << int(SIGINT) << QStringLiteral("live-int") << false;
    // The device stops delivering without an error; the process still ends.
    QTest::newRow("SIGTERM, device stalled") << int(SIGTERM) << QStringLiteral("live-stalled") << true;
}

void TestApplication::streamsAtStartAndClosesOnSignal()
{
    QFETCH(int, signalNumber);
    QFETCH(QString, mount);
    QFETCH(bool, deviceStalled);

    // A settings file left readable by others, as an older version wrote it.
    QTemporaryDir configHome;
    QTemporaryDir runtimeDir;
    QVERIFY(QDir(configHome.path()).mkpath(QStringLiteral("Tavolin")));
    const QString settingsFile = configHome.path() + QStringLiteral("/Tavolin/TavolinEncoder.conf");
    {
        QFile file(settingsFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[General]\nstartStreamOnAppStart=true\nhostname=%1\nport=%2\nmount=%3\n"
                                  "user=%4\npassword=%5\ndeviceIndex=%6\ndeviceName=Monitor of Null Output\n")
                       .arg(icecast.host(), QString::number(icecast.port()), mount, icecast.sourceUser(),
                            icecast.sourcePassword(), pulse.desktopSourceName())
                       .toUtf8());
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                    | QFileDevice::ReadOther));
    }

    QProcess application;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    application.setProcessEnvironment(environment);
    application.setProcessChannelMode(QProcess::MergedChannels);
    application.start(QStringLiteral(TAVOLIN_EXECUTABLE), QStringList());
    QVERIFY2(application.waitForStarted(5000), qPrintable(application.errorString()));

    const QString mountPath = QLatin1Char('/') + mount;
    QVERIFY2(waitUntil(10000, [&] { return !icecast.mountStatus(mountPath).isEmpty(); }),
             application.readAll().constData());
    const QJsonObject stream = probeFirstStream(icecast.listen(mountPath, 4000));
    QCOMPARE(stream.value(QStringLiteral("codec_name")).toString(), QStringLiteral("mp3"));
    if (deviceStalled) {
        QVERIFY(pulse.setDesktopSourceSuspended(true));
        QTest::qWait(1000);
    }

    QCOMPARE(::kill(static_cast<pid_t>(application.processId()), signalNumber), 0);
    QVERIFY(application.waitForFinished(10000));
    const QByteArray output = application.readAll();
    QVERIFY2(application.exitStatus() == QProcess::NormalExit, output.constData());
    QCOMPARE(application.exitCode(), 0);
    // The window's closing handler stopped the run: no thread left running, no time-out.
    QVERIFY2(!output.contains("QThread: Destroyed while thread"), output.constData());
    QVERIFY2(!output.contains("Timeout while shuting down"), output.constData());
    QVERIFY(waitUntil(5000, [&] { return icecast.mountStatus(mountPath).isEmpty(); }));

    QFileInfo settings(settingsFile);
    QCOMPARE(settings.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther
                                       | QFileDevice::WriteGroup | QFileDevice::WriteOther),
             QFileDevice::Permissions());
    QFile written(settingsFile);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray content = written.readAll();
    QVERIFY2(content.contains("samplerate=44100"), content.constData()); // the window wrote its defaults
    QVERIFY(content.contains("password=" + icecast.sourcePassword().toUtf8()));
}

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_application.moc"
