#include "icecastserver.h"
#include "playerharness.h"
#include "pulseserver.h"
#include "serverprocess.h"

#include <QLocalSocket>
#include <QtTest>

#include <functional>

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

    // Stores settings that start the stream to mount at start, plus extra lines.
    bool storeSettings(const QString &configHome, const QString &mount, const QString &extra = QString()) const
    {
        QFile settings(configHome + QStringLiteral("/Tavolin/TavolinEncoder.conf"));
        if (!QDir(configHome).mkpath(QStringLiteral("Tavolin")) || !settings.open(QIODevice::WriteOnly))
            return false;
        settings.write(QStringLiteral("[General]\nstartStreamOnAppStart=true\nhostname=%1\nport=%2\nmount=%3\n"
                                      "user=%4\npassword=%5\ndeviceIndex=%6\ndeviceName=Monitor of Null Output\n")
                           .arg(icecast.host(), QString::number(icecast.port()), mount, icecast.sourceUser(),
                                icecast.sourcePassword(), pulse.desktopSourceName())
                           .toUtf8()
                       + extra.toUtf8());
        return true;
    }

    // Starts the program with its settings in configHome, offscreen, on the
    // renderer it chooses itself unless OpenGL is asked for.
    void launch(QProcess &application, const QString &configHome, const QString &runtimeDir,
                bool openGLAsked = false, const QStringList &arguments = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Without a window no display at all.
        if (!arguments.contains(QStringLiteral("--headless")))
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QUICK_BACKEND"));
        if (openGLAsked)
            environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QString());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        application.setProcessEnvironment(environment);
        application.setProcessChannelMode(QProcess::MergedChannels);
        application.start(QStringLiteral(TAVOLIN_EXECUTABLE), arguments);
    }

    // A command to the copy that runs with these folders: its exit code, and its output.
    int command(const QString &configHome, const QString &runtimeDir, const QStringList &arguments,
                QByteArray *output = nullptr) const
    {
        QProcess process;
        launch(process, configHome, runtimeDir, false, arguments);
        if (!process.waitForFinished(30000))
            return -1;
        if (output)
            *output = process.readAll();
        return process.exitCode();
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
        QFile settings(configHome.path() + QStringLiteral("/Tavolin/TavolinEncoder.conf"));
        if (!mount.isEmpty()) {
            QVERIFY(storeSettings(configHome.path(), mount,
                                  QStringLiteral("metadataFile=%1\n").arg(titleFile == NoTitleFile ? QString() : nowPlaying)));
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
    }

    // A Vorbis stream with a now-playing file, started again and again and,
    // in the last start, through a restart of the server: each time a
    // listener who joins gets the stream and the server shows the title.
    // Icecast 2.4.4 serves nothing from a Vorbis mount whose title came while
    // it read the stream's headers.
    void vorbisWithTitlesReachesListeners()
    {
        const QString mount = QStringLiteral("/vorbis");
        QTemporaryDir configHome;
        QTemporaryDir runtimeDir;
        const QString nowPlaying = configHome.filePath(QStringLiteral("now-playing.txt"));
        QVERIFY(writeFile(nowPlaying, "First - Title\n"));
        QVERIFY(storeSettings(configHome.path(), mount.mid(1),
                              QStringLiteral("encoder=Vorbis\nencoderIndex=3\nreconnect=true\nmetadataFile=%1\n")
                                  .arg(nowPlaying)));
        // What went wrong; empty when the listener got the stream and the title shows.
        const auto listenerProblem = [&] {
            if (!icecast.waitForTitle(mount, QStringLiteral("First - Title")))
                return QStringLiteral("no title");
            const ListenerRecording heard = icecast.recordListener(mount, 3000);
            return heard.format().value(0) == QStringLiteral("vorbis") && heard.samples.size() > 44100
                ? QString()
                : QStringLiteral("%1 samples of %2").arg(heard.samples.size()).arg(heard.format().value(0));
        };
        constexpr int starts = 6;
        for (int start = 1; start <= starts; ++start) {
            QVERIFY(icecast.waitForMount(mount, false));
            QProcess application;
            launch(application, configHome.path(), runtimeDir.path());
            QVERIFY2(icecast.waitForMount(mount, true), application.peek(1 << 16).constData());
            QCOMPARE(listenerProblem(), QString());
            if (start == starts) {
                icecast.stop();
                QVERIFY2(icecast.start(), qPrintable(icecast.errorString()));
                QVERIFY2(icecast.waitForMount(mount, true, 20000), application.peek(1 << 16).constData());
                QCOMPARE(listenerProblem(), QString());
            }
            QCOMPARE(::kill(static_cast<pid_t>(application.processId()), SIGTERM), 0);
            QVERIFY(application.waitForFinished(10000));
        }
    }

    void keepsWhatIsStored_data()
    {
        QTest::addColumn<QString>("stored"); // the key's line in the file; none when empty
        QTest::addColumn<QString>("written"); // its line after the run

        // The first key of a group of the window's values, which all of the
        // group's keys used to follow, one in the middle, and a group's only key.
        QTest::newRow("openApplicationOnSystemStartup")
            << QString() << QStringLiteral("openApplicationOnSystemStartup=false");
        QTest::newRow("name") << QString() << QStringLiteral("name=");
        QTest::newRow("url") << QString() << QStringLiteral("url=");
        QTest::newRow("metadataFile") << QString() << QStringLiteral("metadataFile=");
        QTest::newRow("a negative silence") << QStringLiteral("silenceSeconds=-5") << QStringLiteral("silenceSeconds=30");
        // A further stream's group, which is off.
        QTest::newRow("stream2's mount") << QString() << QStringLiteral("mount=live");
    }

    // A file with every key, away from its default where there is a choice,
    // as an administrator writes it, but the row's: the station goes on air by
    // itself, and after its end every other line is as it was.
    void keepsWhatIsStored()
    {
        QFETCH(QString, stored);
        QFETCH(QString, written);
        const QString key = written.section(QLatin1Char('='), 0, 0);
        QTemporaryDir configHome;
        QTemporaryDir runtimeDir;
        const QString mount = QStringLiteral("keys-") + key;
        QStringList others =
            QStringLiteral("currentIndex=%1|openApplicationOnSystemStartup=true|name=Tavolin Test FM|description=Loopback|"
                           "genre=Rock, Pop|url=http://radio.invalid/|encoder=MP3|encoderIndex=0|protocol=HTTP|"
                           "protocolIndex=0|bitrate=96k|bitrateIndex=10|samplerate=48000|samplerateIndex=5|"
                           "certificateFile=%2/ca.pem|reconnect=true|record=true|recordFolder=%2/shows|"
                           "silenceSeconds=120|metadataFile=%2/title.txt|[stream2]|name=Backup|description=Loopback|"
                           "genre=Rock, Pop|url=http://radio.invalid/|hostname=backup.invalid|port=8010|mount=backup|"
                           "user=source|password=secret|encoder=AAC|encoderIndex=1|protocol=HTTPS|protocolIndex=1|"
                           "bitrate=64k|bitrateIndex=8|samplerate=48000|samplerateIndex=5|certificateFile=|"
                           "inStreamTitles=false|listenerUrl=|listenerCheck=true|enabled=false")
                .arg(pulse.sources().indexOf(pulse.desktopSourceName()))
                .arg(configHome.path())
                .split(QLatin1Char('|'));
        const int row = others.indexOf(QRegularExpression(key + QStringLiteral("=.*")));
        stored.isEmpty() ? others.removeAt(row) : others.replace(row, stored);
        QVERIFY(storeSettings(configHome.path(), mount, others.join(QLatin1Char('\n')) + QLatin1Char('\n')));
        const auto storedLines = [&] {
            QFile settings(configHome.filePath(QStringLiteral("Tavolin/TavolinEncoder.conf")));
            return settings.open(QIODevice::ReadOnly) ? settings.readAll().split('\n') : QList<QByteArray>();
        };
        const QList<QByteArray> before = storedLines();

        QProcess application;
        launch(application, configHome.path(), runtimeDir.path());
        QVERIFY2(icecast.waitForMount(QLatin1Char('/') + mount, true), application.peek(1 << 16).constData());
        QCOMPARE(::kill(static_cast<pid_t>(application.processId()), SIGTERM), 0);
        QVERIFY(application.waitForFinished(10000));
        const QList<QByteArray> after = storedLines();
        QVERIFY(after.contains(written.toUtf8()));
        for (const QByteArray &line : before)
            QVERIFY2(after.contains(line) || line == stored.toUtf8(), line.constData());
        // A value that does not fit its key is named in the log, and so is a key missing from a group.
        const QByteArray output = application.readAll();
        QCOMPARE(output.contains("The stored setting " + key.toUtf8() + " is not valid"), stored.contains(QLatin1Char('=')));
        QCOMPARE(output.count("The stored group stream2 has no"),
                 int(QByteArray(QTest::currentDataTag()).startsWith("stream2")));
    }

    // The commands of scripts against a copy with its window, which goes on
    // the air by itself: one table of commands with their exit codes and
    // answers, a second start, input on the channel that is no command, and
    // --quit; then every command with no copy running.
    void answersCommands()
    {
        QTemporaryDir configHome;
        QTemporaryDir runtimeDir;
        const QString mount = QStringLiteral("/commands");
        QVERIFY(storeSettings(configHome.path(), mount.mid(1)));
        QProcess application;
        launch(application, configHome.path(), runtimeDir.path());
        QVERIFY2(icecast.waitForMount(mount, true), application.peek(1 << 16).constData());
        // Only this user reaches the channel.
        const QString channel = runtimeDir.filePath(QStringLiteral("tavolin-encoder.socket"));
        QCOMPARE(QFileInfo(channel).permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                      | QFileDevice::ExeOwner | QFileDevice::ReadUser
                                                      | QFileDevice::WriteUser | QFileDevice::ExeUser),
                 QFileDevice::Permissions());

        struct Step
        {
            QStringList arguments;
            int exitCode;
            QByteArray answer;
            std::function<bool()> done;
        };
        const QString title = QStringLiteral("Commanded - Title");
        const QList<Step> steps{
            {{QStringLiteral("--status")}, 0, "Status: On Air\n", {}},
            {{QStringLiteral("--title"), title}, 0, "The title goes out\n", [&] { return icecast.waitForTitle(mount, title); }},
            {{QStringLiteral("--status"), QStringLiteral("--json")}, 0, "\"nowPlaying\": \"Commanded - Title\"", {}},
            {{QStringLiteral("--stop")}, 0, "The stream stops\n", [&] { return icecast.waitForMount(mount, false); }},
            {{QStringLiteral("--status")}, 0, "Status: Off\n", {}},
            {{QStringLiteral("--title"), title}, 1, "stream not connected", {}},
            {{QStringLiteral("--start"), QStringLiteral("--stop")}, 2, "One command at a time.", {}},
            {{QStringLiteral("--start")}, 0, "The stream starts\n", [&] { return icecast.waitForMount(mount, true); }},
        };
        for (const Step &step : steps) {
            QByteArray output;
            QCOMPARE(command(configHome.path(), runtimeDir.path(), step.arguments, &output), step.exitCode);
            QVERIFY2(output.contains(step.answer), output.constData());
            QVERIFY2(!step.done || step.done(), qPrintable(step.arguments.join(QLatin1Char(' '))));
        }

        // A second start leaves the first copy alone on the air, in front.
        QProcess second;
        launch(second, configHome.path(), runtimeDir.path());
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(waitUntil(5000, [&] { return application.peek(1 << 20).contains("brings this window to the front"); }));
        QCOMPARE(application.state(), QProcess::Running);

        // Garbage, a line over 64 KiB and a client that never writes, while
        // a listener listens: the stream does not notice.
        QLocalSocket garbage;
        QLocalSocket oversized;
        QLocalSocket silent;
        QTimer::singleShot(500, this, [&] {
            garbage.connectToServer(channel);
            garbage.write("no command\n{\"command\":");
        });
        QTimer::singleShot(1000, this, [&] {
            oversized.connectToServer(channel);
            oversized.write(QByteArray(70000, 'x') + '\n');
        });
        QTimer::singleShot(1500, this, [&] { silent.connectToServer(channel); });
        QCOMPARE(toneGaps(icecast.recordListener(mount, 8000), 440, -9), QStringList());
        QCOMPARE(command(configHome.path(), runtimeDir.path(), {QStringLiteral("--status")}), 0);

        QCOMPARE(command(configHome.path(), runtimeDir.path(), {QStringLiteral("--quit")}), 0);
        QVERIFY(application.waitForFinished(10000));
        QCOMPARE(application.exitCode(), 0);
        QVERIFY(icecast.waitForMount(mount, false, 5000));
        for (const char *arguments : {"--start", "--stop", "--title x", "--status", "--quit"})
            QCOMPARE(command(configHome.path(), runtimeDir.path(), words(arguments)), 3);
    }

    // Without a window or a display: on the air at once, recording, a title
    // by command; SIGTERM ends it with its recording whole. A copy killed
    // outright leaves a recording that decodes, and its channel to the next one.
    void runsHeadless()
    {
        QTemporaryDir configHome;
        QTemporaryDir runtimeDir;
        QTemporaryDir recordings;
        const QString mount = QStringLiteral("/headless");
        QVERIFY(storeSettings(configHome.path(), mount.mid(1),
                              QStringLiteral("record=true\nrecordFolder=%1\n").arg(recordings.path())));
        const QStringList headless{QStringLiteral("--headless")};
        QProcess station;
        launch(station, configHome.path(), runtimeDir.path(), false, headless);
        QVERIFY2(icecast.waitForMount(mount, true), station.peek(1 << 16).constData());
        QCOMPARE(command(configHome.path(), runtimeDir.path(), {QStringLiteral("--title"), QStringLiteral("Headless - Title")}), 0);
        QVERIFY(icecast.waitForTitle(mount, QStringLiteral("Headless - Title")));
        QTest::qWait(2000);
        QCOMPARE(::kill(static_cast<pid_t>(station.processId()), SIGTERM), 0);
        QVERIFY(station.waitForFinished(10000));
        QCOMPARE(station.exitCode(), 0);
        const QStringList saved = QDir(recordings.path()).entryList({QStringLiteral("*.mp3")});
        QCOMPARE(saved.size(), 1);
        QCOMPARE(runTool(QStringLiteral("ffmpeg"), words("-v error -i") << recordings.filePath(saved.constFirst())
                                                       << words("-f null -")),
                 std::optional<QByteArray>(QByteArray()));

        QProcess killed;
        launch(killed, configHome.path(), runtimeDir.path(), false, headless);
        QVERIFY(icecast.waitForMount(mount, true));
        // Three seconds at 128 kbit/s, in the newest file.
        QFileInfo recording;
        QVERIFY(waitUntil(20000, [&] {
            recording = QDir(recordings.path()).entryInfoList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Time).value(0);
            return recording.fileName() != saved.constFirst() && recording.size() > 3 * 16000;
        }));
        QCOMPARE(::kill(static_cast<pid_t>(killed.processId()), SIGKILL), 0);
        QVERIFY(killed.waitForFinished(10000));
        QCOMPARE(runTool(QStringLiteral("ffmpeg"), words("-v error -i") << recording.filePath() << words("-f null -")),
                 std::optional<QByteArray>(QByteArray()));
        QVERIFY(icecast.waitForMount(mount, false));
        launch(station, configHome.path(), runtimeDir.path(), false, headless);
        QVERIFY2(icecast.waitForMount(mount, true), station.peek(1 << 16).constData());
        QCOMPARE(command(configHome.path(), runtimeDir.path(), {QStringLiteral("--status")}), 0);
        QCOMPARE(::kill(static_cast<pid_t>(station.processId()), SIGTERM), 0);
        QVERIFY(station.waitForFinished(10000));
    }

    void answersHelpAndVersion_data()
    {
        QTest::addColumn<QByteArray>("answer"); // how the output starts; the option is the row's name
        QTest::newRow("--version") << QByteArray("tavolin-encoder " TAVOLIN_VERSION "\n");
        QTest::newRow("-h") << QByteArray("Usage: " TAVOLIN_EXECUTABLE " [options]\n");
    }

    // Also in a terminal without a display.
    void answersHelpAndVersion()
    {
        QFETCH(QByteArray, answer);
        QProcess application;
        application.start(QStringLiteral("env"), words("-u DISPLAY -u QT_QPA_PLATFORM " TAVOLIN_EXECUTABLE)
                                                     << QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(application.waitForFinished(10000));
        QVERIFY(application.readAll().startsWith(answer));
    }
};

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_application.moc"
