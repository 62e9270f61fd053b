#include "engine/player.h"
#include "models/logsmodel.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

class TestPlayer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void convertsLevelsToMeterValues_data();
    void convertsLevelsToMeterValues();
    void signalsEachStateChange();
    void reportsErrorsToTheLog();
    void requestsAStop_data();
    void requestsAStop();
    void endsARun_data();
    void endsARun();
    void takesTheSettingsMapApart_data();
    void takesTheSettingsMapApart();

private:
    std::unique_ptr<LogsModel> log;
};

namespace {

// Every settings field of a player, by the key of the settings map it comes from.
QVariantMap storedSettings(const Player &player)
{
    return {
        {QStringLiteral("bitrate"), player.bitrate()},
        {QStringLiteral("samplerate"), player.sampleRate()},
        {QStringLiteral("user"), player.user()},
        {QStringLiteral("password"), player.password()},
        {QStringLiteral("hostname"), player.hostname()},
        {QStringLiteral("port"), player.port()},
        {QStringLiteral("protocol"), player.protocol()},
        {QStringLiteral("mount"), player.mount()},
        {QStringLiteral("name"), player.streamName()},
        {QStringLiteral("description"), player.description()},
        {QStringLiteral("genre"), player.genre()},
        {QStringLiteral("url"), player.url()},
        {QStringLiteral("certificateFile"), player.certificateFile()},
        {QStringLiteral("index"), player.liveSourceIndex()},
        {QStringLiteral("sourceName"), player.liveSourceName()},
        {QStringLiteral("constants"), QStringList{player.formatName(), player.codecName(), player.contentType(),
                                                  player.channelLayout()}},
    };
}

const QVariantMap completeStream{
    {QStringLiteral("bitrate"), QStringLiteral("128k")},
    {QStringLiteral("samplerate"), 44100},
    {QStringLiteral("user"), QStringLiteral("source")},
    {QStringLiteral("password"), QStringLiteral(" secret ")},
    {QStringLiteral("hostname"), QStringLiteral("ingest.invalid")},
    {QStringLiteral("port"), 8000},
    {QStringLiteral("protocol"), QStringLiteral("HTTP")},
    {QStringLiteral("mount"), QStringLiteral("live")},
    {QStringLiteral("name"), QStringLiteral("Station")},
    {QStringLiteral("description"), QStringLiteral("All day")},
    {QStringLiteral("genre"), QStringLiteral("Jazz")},
    {QStringLiteral("url"), QStringLiteral("https://station.invalid/")},
    {QStringLiteral("certificateFile"), QStringLiteral("/etc/tavolin/ingest.pem")},
    {QStringLiteral("encoderIndex"), 1},
    {QStringLiteral("bitrateIndex"), 12},
};
const QVariantMap completeSource{{QStringLiteral("index"), QStringLiteral("tone")},
                                 {QStringLiteral("name"), QStringLiteral("Tone generator")}};
const QStringList constants{QStringLiteral("mp3"), QStringLiteral("libmp3lame"), QStringLiteral("audio/mpeg"),
                            QStringLiteral("stereo")};

QVariantMap storedFromComplete()
{
    QVariantMap stored = completeStream;
    stored.remove(QStringLiteral("encoderIndex"));
    stored.remove(QStringLiteral("bitrateIndex"));
    stored.insert(QStringLiteral("protocol"), QStringLiteral("http"));
    stored.insert(QStringLiteral("index"), QStringLiteral("tone"));
    stored.insert(QStringLiteral("sourceName"), QStringLiteral("Tone generator"));
    stored.insert(QStringLiteral("constants"), constants);
    return stored;
}

QVariantMap storedFromNothing()
{
    QVariantMap stored;
    const QStringList texts{QStringLiteral("bitrate"), QStringLiteral("user"), QStringLiteral("password"),
                            QStringLiteral("hostname"), QStringLiteral("protocol"), QStringLiteral("mount"),
                            QStringLiteral("name"), QStringLiteral("description"), QStringLiteral("genre"),
                            QStringLiteral("url"), QStringLiteral("certificateFile"), QStringLiteral("index"),
                            QStringLiteral("sourceName")};
    for (const QString &key : texts)
        stored.insert(key, QString());
    stored.insert(QStringLiteral("samplerate"), 0);
    stored.insert(QStringLiteral("port"), 0);
    stored.insert(QStringLiteral("constants"), constants);
    return stored;
}

QVariantMap withEntry(QVariantMap map, const QString &key, const QVariant &value)
{
    map.insert(key, value);
    return map;
}

QString lastLogLine(const LogsModel &log)
{
    return log.data(log.index(0, 0)).toString().section(QLatin1Char('\n'), -1);
}

} // namespace

void TestPlayer::init()
{
    log = std::make_unique<LogsModel>();
}

void TestPlayer::cleanup()
{
    log.reset();
}

void TestPlayer::convertsLevelsToMeterValues_data()
{
    QTest::addColumn<double>("level");
    QTest::addColumn<int>("meter");

    const double infinity = std::numeric_limits<double>::infinity();
    QTest::newRow("silence, -inf") << -infinity << 0;
    QTest::newRow("-100 dB") << -100.0 << 0;
    QTest::newRow("-40 dB") << -40.0 << 0;
    QTest::newRow("-39.9 dB truncates 0.25") << -39.9 << 0;
    QTest::newRow("-20 dB") << -20.0 << 50;
    QTest::newRow("-10 dB") << -10.0 << 75;
    QTest::newRow("-0.5 dB") << -0.5 << 98;
    QTest::newRow("0 dB") << 0.0 << 100;
    QTest::newRow("+3 dB, no upper clamp") << 3.0 << 107;
    QTest::newRow("nan") << std::nan("") << 0;
    QTest::newRow("+inf stays defined") << infinity << std::numeric_limits<int>::max();
}

void TestPlayer::convertsLevelsToMeterValues()
{
    QFETCH(double, level);
    QFETCH(int, meter);
    QCOMPARE(Player::meterValue(level), meter);
}

void TestPlayer::signalsEachStateChange()
{
    Player player;
    QSignalSpy changed(&player, &Player::dataChanged);
    QSignalSpy shutDown(&player, &Player::hasShutdown);
    player.setSong(QStringLiteral("Artist - Title"));
    player.setProgressText(QStringLiteral("Connecting to remote server"));
    player.setElapsed(12.5);
    player.setLeftVolume(-6.0);
    player.setRightVolume(-7.0);
    player.setOnAir();
    player.requestStop();
    QCOMPARE(changed.count(), 6);
    QCOMPARE(shutDown.count(), 0);
    QCOMPARE(player.song(), QStringLiteral("Artist - Title"));
    QCOMPARE(player.progressText(), QStringLiteral("Connecting to remote server"));
    QCOMPARE(player.elapsed(), 12.5);
}

void TestPlayer::reportsErrorsToTheLog()
{
    Player player;
    QSignalSpy changed(&player, &Player::dataChanged);
    player.reportError(QStringLiteral("  Cannot open input source "));
    QCOMPARE(player.status(), int(Error));
    QCOMPARE(player.errorText(), QStringLiteral("  Cannot open input source "));
    QCOMPARE(lastLogLine(*log), QStringLiteral("Cannot open input source"));
    QCOMPARE(changed.count(), 1);
}

void TestPlayer::requestsAStop_data()
{
    QTest::addColumn<bool>("onAir");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<int>("status");

    QTest::newRow("off") << false << false << int(Changing);
    QTest::newRow("on air") << true << false << int(Changing);
    QTest::newRow("error stays") << false << true << int(Error);
    QTest::newRow("error on air stays") << true << true << int(Error);
}

void TestPlayer::requestsAStop()
{
    QFETCH(bool, onAir);
    QFETCH(bool, failed);
    QFETCH(int, status);

    Player player;
    if (onAir)
        player.setOnAir();
    if (failed)
        player.reportError(QStringLiteral("Could not write frame (error Broken pipe)"));
    QSignalSpy changed(&player, &Player::dataChanged);
    player.requestStop();
    QCOMPARE(player.status(), status);
    QVERIFY(player.isStopRequested());
    QCOMPARE(changed.count(), 0);
}

void TestPlayer::endsARun_data()
{
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("status");

    QTest::newRow("clean run") << QString() << int(Off);
    QTest::newRow("failed run") << QStringLiteral("Error occurred: End of file") << int(Error);
}

void TestPlayer::endsARun()
{
    QFETCH(QString, error);
    QFETCH(int, status);

    Player player;
    player.reportError(QStringLiteral("an earlier error"));
    player.setOnAir();
    player.setSong(QStringLiteral("Artist - Title"));
    player.setElapsed(42.0);
    player.setLeftVolume(-3.0);
    player.setRightVolume(-4.0);
    player.setProgressText(QStringLiteral("left as it was"));
    if (!error.isEmpty())
        player.reportError(error);
    player.requestStop();

    QStringList order;
    connect(&player, &Player::dataChanged, this, [&order] { order << QStringLiteral("dataChanged"); });
    connect(&player, &Player::hasShutdown, this, [&order] { order << QStringLiteral("hasShutdown"); });
    player.endRun();

    QCOMPARE(order, QStringList({QStringLiteral("dataChanged"), QStringLiteral("hasShutdown")}));
    QCOMPARE(player.status(), status);
    QCOMPARE(player.errorText(), error);
    QCOMPARE(player.song(), QString());
    QCOMPARE(player.elapsed(), 0.0);
    QCOMPARE(player.leftVolume(), 0);
    QCOMPARE(player.rightVolume(), 0);
    QVERIFY(!player.isPlaying());
    QVERIFY(!player.isStopRequested());
    QCOMPARE(player.progressText(), QStringLiteral("left as it was"));
}

void TestPlayer::takesTheSettingsMapApart_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<QVariantMap>("stored");

    const QString stream = QStringLiteral("stream");
    const QString liveSource = QStringLiteral("liveSource");
    const QVariantMap complete{{stream, completeStream}, {liveSource, completeSource}};

    QTest::newRow("complete, extra keys ignored") << complete << storedFromComplete();
    QTest::newRow("no maps") << QVariantMap() << storedFromNothing();
    QTest::newRow("no stream map")
        << QVariantMap{{liveSource, completeSource}}
        << withEntry(withEntry(storedFromNothing(), QStringLiteral("index"), QStringLiteral("tone")),
                     QStringLiteral("sourceName"), QStringLiteral("Tone generator"));
    QTest::newRow("stream not a map")
        << QVariantMap{{stream, QStringLiteral("text")}, {liveSource, completeSource}}
        << withEntry(withEntry(storedFromNothing(), QStringLiteral("index"), QStringLiteral("tone")),
                     QStringLiteral("sourceName"), QStringLiteral("Tone generator"));
    const auto streamWith = [&](const QString &key, const QVariant &value) {
        return QVariantMap{{stream, withEntry(completeStream, key, value)}, {liveSource, completeSource}};
    };
    QTest::newRow("port as text") << streamWith(QStringLiteral("port"), QStringLiteral("8000"))
                                  << storedFromComplete();
    QTest::newRow("port not a number") << streamWith(QStringLiteral("port"), QStringLiteral("abc"))
                                       << withEntry(storedFromComplete(), QStringLiteral("port"), 0);
    QTest::newRow("sample rate as text") << streamWith(QStringLiteral("samplerate"), QStringLiteral("22050"))
                                         << withEntry(storedFromComplete(), QStringLiteral("samplerate"), 22050);
    QTest::newRow("HTTPS") << streamWith(QStringLiteral("protocol"), QStringLiteral("HTTPS"))
                           << withEntry(storedFromComplete(), QStringLiteral("protocol"), QStringLiteral("https"));
    QTest::newRow("HtTpS") << streamWith(QStringLiteral("protocol"), QStringLiteral("HtTpS"))
                           << withEntry(storedFromComplete(), QStringLiteral("protocol"), QStringLiteral("https"));
    QTest::newRow("texts not trimmed") << streamWith(QStringLiteral("mount"), QStringLiteral(" /live "))
                                       << withEntry(storedFromComplete(), QStringLiteral("mount"),
                                                    QStringLiteral(" /live "));
}

void TestPlayer::takesTheSettingsMapApart()
{
    QFETCH(QVariantMap, settings);
    QFETCH(QVariantMap, stored);

    // A capture input that does not exist ends the run at once.
    Player player;
    player.setCaptureBackend({QStringLiteral("no-such-input"), QString()});
    player.togglePlayPause(settings);
    QTRY_COMPARE(player.status(), int(Error));
    QCOMPARE(player.errorText(), QStringLiteral("Cannot find format no-such-input!"));
    QCOMPARE(storedSettings(player), stored);
}

QTEST_GUILESS_MAIN(TestPlayer)
#include "tst_player.moc"
