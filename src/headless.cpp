#include "headless.h"

#include "commandchannel.h"
#include "models/logsmodel.h"
#include "models/playermodel.h"
#include "station.h"
#include "storedvalues.h"

#include <QCoreApplication>
#include <QTimer>

#include <utility>

#ifdef Q_OS_LINUX
#include "terminationsignals.h"
#endif

namespace {

// The stored run, with the first capture device the system lists where none
// is stored, as the window's device list chooses it at its first start.
QString startStoredRun(PlayerModel &model, StoredRun run)
{
    QVariantMap source = run.settings.value(QStringLiteral("liveSource")).toMap();
    if (source.value(QStringLiteral("index")).toString().isEmpty()) {
        const QVariantMap first = model.liveSources().toList().value(0).toMap();
        if (first.isEmpty())
            return QStringLiteral("No capture device is chosen, and the system lists none");
        source = {{QStringLiteral("index"), first.value(QStringLiteral("index"))},
                  {QStringLiteral("name"), first.value(QStringLiteral("deviceName"))}};
        run.settings.insert(QStringLiteral("liveSource"), source);
    }
    model.togglePlayPause(run.settings);
    return QString();
}

} // namespace

int runHeadless(QCoreApplication &application)
{
    // The log's lines reach standard error through Qt's debug output.
    LogsModel log;
    PlayerModel model;
    // Read once for the first start: each read logs what is not valid.
    StoredRun firstRun = readStoredRun();
    if (!firstRun.metadataFile.isEmpty())
        model.followMetadataFile(firstRun.metadataFile);

    bool quitting = false;
    // A stop of its own asked for, after which the copy waits for commands.
    bool stopping = false;
    const auto quit = [&] {
        if (std::exchange(quitting, true))
            return;
        model.shutdown();
        QCoreApplication::quit();
    };
    // A command's start reads the store as it is then.
    const auto start = [&] {
        stopping = false;
        return startStoredRun(model, readStoredRun());
    };
    const auto stop = [&] {
        stopping = true;
        model.togglePlayPause({});
    };
    Station station(model, {start, stop, [&] { QTimer::singleShot(0, &application, quit); }, [] { return QStringLiteral("it runs without a window"); }});
    CommandServer commands([&](const QString &command, const QString &text) { return station.carryOut(command, text); });
    if (!commands.listen()) {
        LogsModel::log(QStringLiteral("Tavolin Encoder runs already for this user"));
        return 1;
    }
#ifdef Q_OS_LINUX
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &application, quit);
#endif
    // A run that ends by itself ends the program, as a failure when it failed:
    // a service manager then starts it again.
    QObject::connect(
        &model.engine(), &Player::hasShutdown, &application,
        [&] {
            if (!quitting && !stopping)
                QCoreApplication::exit(model.engine().status() == Error ? 1 : 0);
        },
        Qt::QueuedConnection);

    const QString refused = startStoredRun(model, std::move(firstRun));
    if (!refused.isEmpty()) {
        LogsModel::log(refused);
        return 1;
    }
    return application.exec();
}
