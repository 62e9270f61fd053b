#include "playermodel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

PlayerModel::PlayerModel()
    : QAbstractListModel(nullptr)
{
    listenToEngine();
    connect(&player, &Player::recordingProblemChanged, this, &PlayerModel::recordingProblemChanged,
            Qt::QueuedConnection);
    connect(&nowPlayingFile, &FollowedFile::changed, this, &PlayerModel::onMetadataFileChange);
    connect(&nowPlayingFile, &FollowedFile::existsChanged, this, &PlayerModel::metadataFileChanged);
    connect(&player, &Player::readyForTitles, this, &PlayerModel::sendTitleOnAir, Qt::QueuedConnection);
    connect(&player, &Player::streamOnAir, &listeners, &ListenerWatch::streamOnAir, Qt::QueuedConnection);
    connect(&player, &Player::hasShutdown, &listeners, &ListenerWatch::runEnded, Qt::QueuedConnection);
    connect(&listeners, &ListenerWatch::changed, this, &PlayerModel::playerDataChanged);
    notifyInterval.setInterval(40);
    notifyInterval.setSingleShot(true);
    notifyInterval.setTimerType(Qt::PreciseTimer); // a coarse one may end early
    connect(&notifyInterval, &QTimer::timeout, this, &PlayerModel::endNotifyInterval);
}

PlayerModel::~PlayerModel() = default;

int PlayerModel::rowCount(const QModelIndex &parent) const
{
    // The stream row has no children; views that walk the tree must see that.
    return parent.isValid() ? 0 : 1;
}

QHash<int, QByteArray> PlayerModel::roleNames() const
{
    return {
        {SongRole, "song"},
        {PositionRole, "position"},
        {StatusRole, "status"},
        {LeftVolumeRole, "leftVolume"},
        {RightVolumeRole, "rightVolume"},
        {IsPlayingRole, "isPlaying"},
        {IsErrorRole, "isError"},
        {IsChangingRole, "isChanging"},
        {StreamsRole, "streams"},
        {StreamsOnAirRole, "streamsOnAir"},
    };
}

QVariant PlayerModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this)
        return {};
    switch (role) {
    case SongRole:
        return player.song();
    case PositionRole:
        return positionText();
    case StatusRole:
        return statusText(player.status());
    case LeftVolumeRole:
        return player.leftVolume();
    case RightVolumeRole:
        return player.rightVolume();
    case IsPlayingRole:
        return player.isPlaying();
    case IsErrorRole:
        return player.status() == Error;
    case IsChangingRole:
        return player.status() == Changing;
    case StreamsRole:
        return streamRows();
    case StreamsOnAirRole:
        return streamsOnAirText();
    default:
        return {};
    }
}

QString PlayerModel::statusText(int status)
{
    switch (status) {
    case Changing:
        return QStringLiteral("--");
    case Off:
        return QStringLiteral("Off");
    case OnAir:
        return QStringLiteral("On Air");
    case Error:
        return QStringLiteral("Error");
    default:
        return QStringLiteral("N/A");
    }
}

QString PlayerModel::elapsedText(double seconds)
{
    constexpr double largestShown = 10000.0 * 86400.0 - 1.0;
    // NaN and negative times have nothing sensible to show; times beyond four
    // digits of days stop at the largest one, so the text keeps its width.
    if (seconds == 0.0 || std::isnan(seconds) || seconds < 0.0)
        return QStringLiteral("--");
    const int s = int(std::min(seconds, largestShown));
    char text[32]; // room the compiler can prove; the clamp keeps it to 15
    std::snprintf(text, sizeof text, "%04dd, %02d:%02d:%02d", s / 86400, s % 86400 / 3600, s % 3600 / 60,
                  s % 60);
    return QString::fromLatin1(text);
}

QString PlayerModel::positionText() const
{
    if (player.status() == Error)
        return player.errorText();
    if (player.status() == Changing)
        return player.progressText();
    return elapsedText(player.elapsed());
}

QVariantMap PlayerModel::describeStream(QVariantMap stream) const
{
    const StreamSettings settings = StreamSettings::fromMap(stream);
    return {{QStringLiteral("label"), settings.label()}, {QStringLiteral("format"), settings.formatText()}};
}

QVariantList PlayerModel::streamRows() const
{
    const QVector<StreamSettings> streams = player.streams();
    const std::vector<StreamState> states = player.streamStates();
    QVariantList rows;
    for (int stream = 0; stream < streams.size(); ++stream) {
        const StreamState state = size_t(stream) < states.size() ? states[size_t(stream)] : StreamState();
        const ListenerWatch::Shown heard = listeners.shown(stream);
        rows << QVariantMap{{QStringLiteral("label"), streams.at(stream).label()},
                            {QStringLiteral("format"), streams.at(stream).formatText()},
                            {QStringLiteral("state"), state.text},
                            {QStringLiteral("status"), state.status},
                            {QStringLiteral("heard"), heard.heard},
                            {QStringLiteral("heardWell"), heard.heardWell},
                            {QStringLiteral("listeners"), heard.listeners}};
    }
    return rows;
}

QString PlayerModel::streamsOnAirText() const
{
    const std::vector<StreamState> states = player.streamStates();
    const auto onAir = std::count_if(states.cbegin(), states.cend(),
                                     [](const StreamState &state) { return state.status == OnAir; });
    if (states.size() < 2 || player.status() != OnAir || size_t(onAir) == states.size())
        return QString();
    return QStringLiteral("%1 of %2 streams on air").arg(onAir).arg(states.size());
}

void PlayerModel::listenToEngine()
{
    // Queued also for changes made on this thread: the setter still holds the
    // engine's mutex when it emits, and data() takes that mutex again.
    engineChanges = connect(&player, &Player::dataChanged, this, &PlayerModel::playerDataChanged, Qt::QueuedConnection);
}

QVariantList PlayerModel::rowValues() const
{
    QVariantList values;
    const QModelIndex row = index(0, 0);
    for (int role = SongRole; role <= StreamsOnAirRole; ++role)
        values << data(row, role);
    return values;
}

void PlayerModel::playerDataChanged()
{
    // A change after a quiet interval goes out at once (calls queued before
    // that went out find the interval running).
    if (!notifyInterval.isActive())
        notifyRowChanged();
}

void PlayerModel::notifyRowChanged()
{
    // Within the interval the engine's changes are not listened to, as each
    // would wake this thread; the row is compared at its end instead.
    disconnect(engineChanges);
    announcedValues = rowValues();
    notifyInterval.start();
    const QModelIndex row = index(0, 0);
    emit dataChanged(row, row, {});
    announceDeadAir();
}

void PlayerModel::endNotifyInterval()
{
    listenToEngine(); // first, so that a change after the comparison is signalled
    if (rowValues() != announcedValues)
        notifyRowChanged();
    else
        announceDeadAir();
}

void PlayerModel::announceDeadAir()
{
    const int deadAir = player.deadAirSeconds();
    if (deadAir == shownDeadAirSeconds)
        return;
    shownDeadAirSeconds = deadAir;
    emit deadAirSecondsChanged(deadAir);
}

void PlayerModel::togglePlayPause(QVariantMap settings)
{
    // The file's title is the run's before it connects, so that the first
    // header of an Ogg stream carries it.
    runTitle = nowPlayingLine();
    if (!runTitle.isEmpty())
        settings.insert(QStringLiteral("title"), runTitle);
    player.togglePlayPause(settings);
}

QVariant PlayerModel::liveSources()
{
    if (liveSourcesCache.isNull())
        liveSourcesCache = player.liveSources();
    return liveSourcesCache;
}

void PlayerModel::shutdown()
{
    player.shutdown();
}
