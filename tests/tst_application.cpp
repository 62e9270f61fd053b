#include "icecastserver.h"
#include "pulseserver.h"
#include "serverprocess.h"

#include <QtTest>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>

enum TitleFile { NoTitleFile, ThereAtStart, CreatedLater };

// The real executable, as a user starts it, with the stream started by itself
// from the stored settings: an unattended station.
class TestApplication : public QObject
{
    Q_OBJECT

    IcecastServer icecast;
    PulseServer pulse;

    static QString settingsFile(const QString &configHome)
    {
        return configHome + QStringLiteral("/Tavolin/TavolinEncoder.conf");
    }

    // Stores settings that start the stream to mount at start, with other values.
    bool storeSettings(const QString &configHome, const QString &mount, const QVariantMap &others = {}) const
    {
        QSettings settings(settingsFile(configHome), QSettings::IniFormat);
        const QVariantMap station{{QStringLiteral("startStreamOnAppStart"), true},
                                  {QStringLiteral("hostname"), icecast.host()},
                                  {QStringLiteral("port"), icecast.port()},
                                  {QStringLiteral("mount"), mount},
                                  {QStringLiteral("user"), icecast.sourceUser()},
                                  {QStringLiteral("password"), icecast.sourcePassword()},
                                  {QStringLiteral("deviceIndex"), pulse.desktopSourceName()},
                                  {QStringLiteral("deviceName"), QStringLiteral("Monitor of Null Output")}};
        for (const QVariantMap &values : {station, others}) {
            for (auto value = values.cbegin(); value != values.cend(); ++value)
                settings.setValue(value.key(), value.value());
        }
        settings.sync();
        return settings.status() == QSettings::NoError;
    }

    // Every stored key with its value as text.
    static QMap<QString, QString> storedValues(const QString &configHome)
    {
        const QSettings settings(settingsFile(configHome), QSettings::IniFormat);
        QMap<QString, QString> values;
        for (const QString &key : settings.allKeys()) {
            const QVariant value = settings.value(key);
            values.insert(key, value.userType() == QMetaType::QStringList
                                   ? value.toStringList().join(QStringLiteral(", "))
                                   : value.toString());
        }
        return values;
    }

    // Starts the program with its settings in configHome, offscreen, on the
    // renderer it chooses itself unless OpenGL is asked for.
    void launch(QProcess &application, const QString &configHome, const QString &runtimeDir,
                bool openGLAsked = false) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QUICK_BACKEND"));
        if (openGLAsked)
            environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QString());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        application.setProcessEnvironment(environment);
        application.setProcessChannelMode(QProcess::MergedChannels);
        application.start(QStringLiteral(TAVOLIN_EXECUTABLE), QStringList());
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
        // The desktop-like device delivers every 50 ms; the 2-s fragments of the
        // plain tone source could hold a stop past the window's shutdown limit.
        pulse.addDesktopSource();
        QVERIFY2(pulse.start(), qPrintable(pulse.errorString()));
    }

    void cleanup() { QVERIFY(pulse.setDesktopSourceSuspended(false)); }

    void streamsAtStartAndClosesOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("mount"); // empty: no settings file yet, so no stream
        QTest::addColumn<bool>("deviceStalled");
        QTest::addColumn<int>("titleFile"); // the stored now-playing file
        // The user's QT_QUICK_BACKEND asks for Qt's OpenGL default, which cannot
        // be made here; otherwise no renderer is set. Either way no OpenGL at all.
        QTest::addColumn<bool>("openGLAsked");

        // At the end the device stops delivering without an error; the process still ends.
        QTest::newRow("SIGTERM, title file, device stalled")
            << int(SIGTERM) << QStringLiteral("live-term") << true << int(ThereAtStart) << false;
        // A playout program that starts after the encoder.
        QTest::newRow("SIGINT, title file created later")
            << int(SIGINT) << QStringLiteral("live-int") << false << int(CreatedLater) << false;
        QTest::newRow("SIGTERM, first start, OpenGL asked for")
            << int(SIGTERM) << QString() << false << int(NoTitleFile) << true;
    }

    void streamsAtStartAndClosesOnSignal()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, mount);
        QFETCH(bool, deviceStalled);
        QFETCH(int, titleFile);
        QFETCH(bool, openGLAsked);

        QTemporaryDir configHome;
        QTemporaryDir runtimeDir;
        const QString nowPlaying = configHome.filePath(QStringLiteral("now-playing.txt"));
        if (titleFile == ThereAtStart)
            QVERIFY(writeFile(nowPlaying, "First - Title\n"));
        QFile settings(settingsFile(configHome.path()));
        if (!mount.isEmpty()) {
            QVERIFY(storeSettings(configHome.path(), mount,
                                  {{QStringLiteral("metadataFile"), titleFile == NoTitleFile ? QString() : nowPlaying}}));
            // Open to everybody, as an older version could leave it.
            QCOMPARE(::chmod(QFile::encodeName(settings.fileName()).constData(), 0666), 0);
        }

        QProcess application;
        launch(application, configHome.path(), runtimeDir.path(), openGLAsked);
        QVERIFY2(application.waitForStarted(5000), qPrintable(application.errorString()));

        const QString mountPath = QLatin1Char('/') + mount;
        if (mount.isEmpty()) {
            // Up once the window has listed the sources.
            QVERIFY(waitUntil(10000, [&] { return application.peek(1 << 16).contains("Initializing ffmpeg avdevices"); }));
        } else {
            QVERIFY2(icecast.waitForMount(mountPath, true), application.peek(1 << 16).constData());
            // The file's first line reaches the server within seconds of going on
            // the air, and so does a replacement renamed over it.
            if (titleFile == CreatedLater)
                QVERIFY(writeFile(nowPlaying, "First - Title\n"));
            if (titleFile != NoTitleFile) {
                QVERIFY2(icecast.waitForTitle(mountPath, QStringLiteral("First - Title")),
                         application.peek(1 << 16).constData());
                QVERIFY(writeFile(nowPlaying + QStringLiteral(".new"), "Next - Title\n"));
                QCOMPARE(std::rename(QFile::encodeName(nowPlaying + QStringLiteral(".new")), QFile::encodeName(nowPlaying)),
                         0);
                QVERIFY(icecast.waitForTitle(mountPath, QStringLiteral("Next - Title")));
            }
            const QJsonObject stream = icecast.recordListener(mountPath, 4000).stream;
            QCOMPARE(stream.value(QStringLiteral("codec_name")).toString(), QStringLiteral("mp3"));
        }
        if (deviceStalled) {
            QVERIFY(pulse.setDesktopSourceSuspended(true));
            QTest::qWait(1000);
        }

        QCOMPARE(::kill(static_cast<pid_t>(application.processId()), signalNumber), 0);
        QVERIFY(application.waitForFinished(10000));
        const QByteArray output = application.readAll();
        QVERIFY2(application.exitStatus() == QProcess::NormalExit, output.constData());
        QCOMPARE(application.exitCode(), 0);
        // The window's closing handler stopped the run (no thread left running, no
        // time-out), and no title was refused or failed.
        for (const char *failure : {"QThread: Destroyed while thread", "Timeout while shuting down",
                                    "Cannot update metadata", "Error while updating metadata"})
            QVERIFY2(!output.contains(failure), output.constData());
        QCOMPARE(output.contains("No OpenGL context could be made"), openGLAsked);
        QVERIFY(icecast.waitForMount(mountPath, false, 5000));

        // The password is kept there: for its owner only, also after Qt rewrote it.
        QCOMPARE(QFile::permissions(settings.fileName()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QByteArray content = settings.readAll();
        QVERIFY2(content.contains("samplerate=44100"), content.constData()); // the window wrote its defaults
    }

    void keepsWhatIsStored_data()
    {
        QTest::addColumn<QString>("missingKey");
        QTest::addColumn<QString>("written"); // what the run stores for it

        // The first key of a group of the window's values, which all of the
        // group's keys used to follow, a key in the middle of one, and a group's
        // only key.
        QTest::newRow("openApplicationOnSystemStartup")
            << QStringLiteral("openApplicationOnSystemStartup") << QStringLiteral("false");
        QTest::newRow("name") << QStringLiteral("name") << QString();
        QTest::newRow("url") << QStringLiteral("url") << QString();
        QTest::newRow("metadataFile") << QStringLiteral("metadataFile") << QString();
    }

    // A file with every key but one, most of them away from their defaults, as
    // an administrator writes it: the station goes on air by itself, and after
    // its end every key is as it was; the missing one has its default.
    void keepsWhatIsStored()
    {
        QFETCH(QString, missingKey);
        QFETCH(QString, written);

        QTemporaryDir configHome;
        QTemporaryDir runtimeDir;
        const QString mount = QStringLiteral("keys-") + missingKey;
        // The device's own position in the list, which the window would correct.
        QVariantMap values{{QStringLiteral("currentIndex"), pulse.sources().indexOf(pulse.desktopSourceName())},
                           {QStringLiteral("openApplicationOnSystemStartup"), true},
                           {QStringLiteral("name"), QStringLiteral("Tavolin Test FM")},
                           {QStringLiteral("description"), QStringLiteral("Loopback")},
                           {QStringLiteral("genre"), QStringLiteral("Rock, Pop")},
                           {QStringLiteral("url"), QStringLiteral("http://radio.invalid/")},
                           {QStringLiteral("encoder"), QStringLiteral("MP3")},
                           {QStringLiteral("encoderIndex"), 0},
                           {QStringLiteral("protocol"), QStringLiteral("HTTP")},
                           {QStringLiteral("protocolIndex"), 0},
                           {QStringLiteral("bitrate"), QStringLiteral("96k")},
                           {QStringLiteral("bitrateIndex"), 10},
                           {QStringLiteral("samplerate"), 48000},
                           {QStringLiteral("samplerateIndex"), 5},
                           {QStringLiteral("certificateFile"), configHome.filePath(QStringLiteral("ca.pem"))},
                           {QStringLiteral("reconnect"), true},
                           {QStringLiteral("record"), true},
                           {QStringLiteral("recordFolder"), configHome.filePath(QStringLiteral("shows"))},
                           {QStringLiteral("silenceSeconds"), 120},
                           {QStringLiteral("metadataFile"), configHome.filePath(QStringLiteral("title.txt"))}};
        values.remove(missingKey);
        QVERIFY(storeSettings(configHome.path(), mount, values));
        const QMap<QString, QString> before = storedValues(configHome.path());

        QProcess application;
        launch(application, configHome.path(), runtimeDir.path());
        QVERIFY2(icecast.waitForMount(QLatin1Char('/') + mount, true), application.peek(1 << 16).constData());
        QCOMPARE(::kill(static_cast<pid_t>(application.processId()), SIGTERM), 0);
        QVERIFY(application.waitForFinished(10000));

        QMap<QString, QString> after = storedValues(configHome.path());
        QCOMPARE(after.take(missingKey), written);
        for (auto value = before.cbegin(); value != before.cend(); ++value)
            QCOMPARE(after.value(value.key()), value.value());
    }

    void aRecordingSurvivesAKill()
    {
        QTemporaryDir configHome;
        QTemporaryDir runtimeDir;
        QTemporaryDir recordings;
        QVERIFY(storeSettings(configHome.path(), QStringLiteral("live-kill"),
                              {{QStringLiteral("record"), true}, {QStringLiteral("recordFolder"), recordings.path()}}));
        QProcess application;
        launch(application, configHome.path(), runtimeDir.path());
        QVERIFY2(icecast.waitForMount(QStringLiteral("/live-kill"), true), application.readAll().constData());
        // Three seconds at 128 kbit/s.
        QFileInfo recording;
        QVERIFY(waitUntil(20000, [&] {
            const QFileInfoList files = QDir(recordings.path()).entryInfoList(QDir::Files);
            recording = files.value(0);
            return files.size() == 1 && recording.size() > 3 * 16000;
        }));

        QCOMPARE(::kill(static_cast<pid_t>(application.processId()), SIGKILL), 0);
        QVERIFY(application.waitForFinished(10000));
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"), words("-v error -i") << recording.filePath() << words("-f null -"));
        QVERIFY(ffmpeg.waitForFinished(30000));
        QCOMPARE(ffmpeg.exitCode(), 0);
        QCOMPARE(ffmpeg.readAllStandardError(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_application.moc"
