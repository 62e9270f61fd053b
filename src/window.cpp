#include "window.h"

#include "commandchannel.h"
#include "models/logsmodel.h"
#include "models/playermodel.h"
#include "qmltypes.h"
#include "quickrenderer.h"
#include "station.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <memory>

#ifdef Q_OS_LINUX
#include "terminationsignals.h"
#endif

namespace {

// As the window's close button, also for a window that a modal dialog
// blocks: the dialogs go first.
void closeWindows()
{
    QWindowList windows = QGuiApplication::topLevelWindows();
    // Without a window (the document failed to load) nothing else would end the loop.
    if (windows.isEmpty()) {
        QCoreApplication::quit();
        return;
    }
    std::stable_partition(windows.begin(), windows.end(),
                          [](const QWindow *window) { return window->modality() != Qt::NonModal; });
    for (QWindow *window : windows)
        window->close();
}

// What the commands do through the window: its play button's own rules.
Station::Actions windowActions(QObject *root)
{
    const auto call = [root](const char *function) {
        QVariant result;
        QMetaObject::invokeMethod(root, function, Q_RETURN_ARG(QVariant, result));
        return result.toString();
    };
    const auto window = qobject_cast<QWindow *>(root);
    return {[call] { return call("startFromCommand"); }, [call] { call("stopFromCommand"); },
            [] { QMetaObject::invokeMethod(qApp, &closeWindows, Qt::QueuedConnection); },
            [window] {
                if (!window)
                    return QStringLiteral("it has no window");
                LogsModel::log(QStringLiteral("Another start of the program brings this window to the front"));
                window->showNormal();
                window->raise();
                window->requestActivate();
                window->alert(0);
                return QStringLiteral("its window comes to the front");
            }};
}

} // namespace

int runWindow(int &argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    // The desktop entry's name, which Wayland compositors match windows by.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.tavolin.TavolinEncoder"));
#ifdef Q_OS_LINUX
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &application, &closeWindows);
    PlayerModel::renewRenamedAutoStart();
#endif
    chooseQuickRenderer();
    registerQmlTypes();
    const QQmlApplicationEngine engine(QUrl(QStringLiteral("qrc:/src/qml/TavolinEncoder.qml"), QUrl::TolerantMode));
    QObject *root = engine.rootObjects().value(0);
    auto *model = root ? root->findChild<PlayerModel *>(QStringLiteral("playerModel")) : nullptr;
    std::unique_ptr<Station> station;
    std::unique_ptr<CommandServer> commands;
    if (model) {
        station = std::make_unique<Station>(*model, windowActions(root));
        commands = std::make_unique<CommandServer>(
            [&station](const QString &command, const QString &text) { return station->carryOut(command, text); });
        if (!commands->listen())
            LogsModel::log(QStringLiteral("Commands cannot reach this copy: another copy has the channel"));
    }
    return application.exec();
}
