#include "engine/player.h"
#include "models/logsmodel.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

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
    };
}

const QVariantMap completeStream{
    {QStringLiteral("bitrate"), QStringLiteral("128k")},
    {QStringLiteral("samplerate"), 44100},
    {QStringLiteral("user"), QStringLiteral("source")},
    {QStringLiteral("password"), QStringLiteral(" secret ")},
    {QStringLiteral("hostname"), QStringLiteral("ingest.invalid")},
    {QStringLiteral("port"), 8000},
    {QStringLiteral("protocol"), QStringLiteral("http")},
    {QStringLiteral("mount"), QStringLiteral(" /live ")},
    {QStringLiteral("name"), QStringLiteral("Station")},
    {QStringLiteral("description"), QStringLiteral("All day")},
    {QStringLiteral("genre"), QStringLiteral("Jazz")},
    {QStringLiteral("url"), QStringLiteral("https://station.invalid/")},
    {QStringLiteral("certificateFile"), QStringLiteral("/etc/tavolin/ingest.pem")},
};
const QVariantMap completeSource{{QStringLiteral("index"), QStringLiteral("tone")},
                                 {QStringLiteral("name"), QStringLiteral("Tone generator")}};

QVariantMap withEntry(QVariantMap map, const QString &key, const QVariant &value)
{
    map.insert(key, value);
    return map;
}

// What a player keeps of the complete map: the texts as they are (not trimmed).
QVariantMap keptOfComplete()
{
    QVariantMap kept = completeStream;
    kept.insert(QStringLiteral("index"), QStringLiteral("tone"));
    kept.insert(QStringLiteral("sourceName"), QStringLiteral("Tone generator"));
    return kept;
}

} // namespace

class TestPlayer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void convertsLevelsToMeterValues_data();
    void convertsLevelsToMeterValues();
    void requestsAStop_data();
    void requestsAStop();
    void endsARun_data();
    void endsARun();
    void takesTheSettingsMapApart_data();
    void takesTheSettingsMapApart();

private:
    std::unique_ptr<LogsModel> log;
};

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
    QTest::newRow("-40 dB") << -40.0 << 0;
    QTest::newRow("-39.9 dB truncates 0.25") << -39.9 << 0;
    QTest::newRow("-20 dB") << -20.0 << 50;
    QTest::newRow("-0.5 dB") << -0.5 << 98;
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

void TestPlayer::requestsAStop_data()
{
    QTest::addColumn<bool>("failed");
    QTest::addColumn<int>("status");

    QTest::newRow("on air") << false << int(Changing);
    QTest::newRow("error stays") << true << int(Error);
}

void TestPlayer::requestsAStop()
{
    QFETCH(bool, failed);
    QFETCH(int, status);

    Player player;
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
    QCOMPARE(player.leftVolume() + player.rightVolume(), 0);
    QVERIFY(!player.isPlaying());
    QVERIFY(!player.isStopRequested());
}

void TestPlayer::takesTheSettingsMapApart_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<QVariantMap>("kept");

    const QString stream = QStringLiteral("stream");
    const QString liveSource = QStringLiteral("liveSource");
    const auto streamWith = [&](const QString &key, const QVariant &value) {
        return QVariantMap{{stream, withEntry(completeStream, key, value)}, {liveSource, completeSource}};
    };
    QVariantMap nothing = keptOfComplete();
    for (QVariant &value : nothing)
        value = value.type() == QVariant::Int ? QVariant(0) : QVariant(QString());

    QTest::newRow("complete, extra keys ignored") << streamWith(QStringLiteral("bitrateIndex"), 12)
                                                  << keptOfComplete();
    QTest::newRow("no maps: empty texts and zeros") << QVariantMap() << nothing;
    QTest::newRow("stream not a map")
        << QVariantMap{{stream, QStringLiteral("text")}, {liveSource, completeSource}}
        << withEntry(withEntry(nothing, QStringLiteral("index"), QStringLiteral("tone")),
                     QStringLiteral("sourceName"), QStringLiteral("Tone generator"));
    QTest::newRow("port as text") << streamWith(QStringLiteral("port"), QStringLiteral("8000")) << keptOfComplete();
    QTest::newRow("port not a number") << streamWith(QStringLiteral("port"), QStringLiteral("abc"))
                                       << withEntry(keptOfComplete(), QStringLiteral("port"), 0);
    QTest::newRow("sample rate as text") << streamWith(QStringLiteral("samplerate"), QStringLiteral("22050"))
                                         << withEntry(keptOfComplete(), QStringLiteral("samplerate"), 22050);
    QTest::newRow("HtTpS") << streamWith(QStringLiteral("protocol"), QStringLiteral("HtTpS"))
                           << withEntry(keptOfComplete(), QStringLiteral("protocol"), QStringLiteral("https"));
}

void TestPlayer::takesTheSettingsMapApart()
{
    QFETCH(QVariantMap, settings);
    QFETCH(QVariantMap, kept);

    // A capture input that does not exist ends the run at once.
    Player player;
    player.setCaptureBackend({QStringLiteral("no-such-input"), QString()});
    player.togglePlayPause(settings);
    QTRY_COMPARE(player.status(), int(Error));
    QCOMPARE(player.errorText(), QStringLiteral("Cannot find format no-such-input!"));
    QCOMPARE(storedSettings(player), kept);
    QCOMPARE(QStringList({player.formatName(), player.codecName(), player.contentType(), player.channelLayout()}),
             QStringList({QStringLiteral("mp3"), QStringLiteral("libmp3lame"), QStringLiteral("audio/mpeg"),
                          QStringLiteral("stereo")}));
}

QTEST_GUILESS_MAIN(TestPlayer)
#include "tst_player.moc"
