#include "commandchannel.h"
#include "headless.h"
#include "models/logsmodel.h"
#include "models/playermodel.h"
#include "qmltypes.h"
#include "quickrenderer.h"
#include "station.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QThread>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_LINUX
#include "settingsfile.h"
#include "terminationsignals.h"
#include <QSettings>
#endif

namespace {

// Exit codes of the commands, as --help lists them.
enum ExitCode { Done = 0, Refused = 1, UsageError = 2, NotRunning = 3 };

constexpr int quitWaitMs = 15000;

// What the command line asks for: a command to the running copy (empty: none),
// its text, whether the status comes as JSON, and the mode without a window.
struct Invocation
{
    QString command;
    QString text;
    bool json = false;
    bool headless = false;
};

const char helpCodes[] =
    "\nExit codes of the commands: 0 the running copy did it; 1 it refused (the\n"
    "reason is printed); 2 a usage error; 3 Tavolin Encoder is not running.\n"
    "Commands never start a copy; started without a command while a copy runs,\n"
    "the program brings that copy's window to the front.\n";

// --help and --version are answered, and usage errors ended, before the
// window's application exists: a terminal without a display gets them too.
// Qt's own options (-platform, -reverse ...) are left to it.
Invocation readCommandLine(const QCoreApplication &application)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Captures an audio device and streams it live to Icecast or Shoutcast servers."));
    // Qt's one-dash words are words, not rows of one-letter options such as -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Not addHelpOption: its --help-all would list Qt's options, which only
    // the window's application knows.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help."));
    const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("Starts the stream of the running copy, as its play button."));
    const QCommandLineOption stop(QStringLiteral("stop"), QStringLiteral("Stops the stream of the running copy."));
    const QCommandLineOption title(QStringLiteral("title"), QStringLiteral("Sends <text> as the now-playing title."),
                                   QStringLiteral("text"));
    const QCommandLineOption status(QStringLiteral("status"),
                                    QStringLiteral("Prints the running copy's status, its streams and its recording."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("With --status: one JSON object."));
    const QCommandLineOption quit(QStringLiteral("quit"),
                                  QStringLiteral("Ends the running copy, its stream stopped and its recording closed."));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Runs without a window or display: on the air at once with the stored settings, its log on "
                       "standard error, until SIGTERM, SIGINT or --quit."));
    parser.addOptions({help, start, stop, title, status, json, quit, headless});
    parser.addVersionOption();
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText() + QLatin1String(helpCodes)), stdout);
        std::exit(Done);
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    Invocation invocation;
    QStringList commands;
    for (const QCommandLineOption *option : {&start, &stop, &title, &status, &quit}) {
        if (parser.isSet(*option))
            commands << option->names().constFirst();
    }
    invocation.command = commands.value(0);
    invocation.text = parser.value(title);
    invocation.json = parser.isSet(json);
    invocation.headless = parser.isSet(headless);
    // Qt's own options are the window's business; no other word is.
    const bool usable = commands.size() <= 1 && (!invocation.json || invocation.command == QLatin1String("status"))
        && (!invocation.headless || commands.isEmpty()) && (parsed || (commands.isEmpty() && !invocation.headless));
    if (!usable) {
        std::fprintf(stderr, "%s\n%s", qPrintable(parsed ? QStringLiteral("One command at a time.") : parser.errorText()),
                     qPrintable(parser.helpText() + QLatin1String(helpCodes)));
        std::exit(UsageError);
    }
    Q_UNUSED(application);
    return invocation;
}

// A command to the running copy, its answer on the standard output.
int runCommand(const Invocation &invocation)
{
    const QJsonObject answer = sendCommand(invocation.command, invocation.text);
    if (answer.isEmpty()) {
        std::fputs("Tavolin Encoder is not running\n", stderr);
        return NotRunning;
    }
    const QJsonObject status = answer.value(QStringLiteral("status")).toObject();
    const bool ok = answer.value(QStringLiteral("ok")).toBool();
    if (invocation.command == QLatin1String("status"))
        std::fputs(invocation.json ? QJsonDocument(status).toJson(QJsonDocument::Indented).constData()
                                   : qPrintable(statusText(status)),
                   stdout);
    else
        std::fprintf(ok ? stdout : stderr, "%s\n", qPrintable(answer.value(QStringLiteral("message")).toString()));
    // --quit returns once the copy is gone.
    QElapsedTimer clock;
    clock.start();
    while (ok && invocation.command == QLatin1String("quit") && !clock.hasExpired(quitWaitMs)
           && !sendCommand(QStringLiteral("status"), QString(), 1000).isEmpty())
        QThread::msleep(100);
    return ok ? Done : Refused;
}

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
                    return;
                LogsModel::log(QStringLiteral("Another start of the program brings this window to the front"));
                window->showNormal();
                window->raise();
                window->requestActivate();
                window->alert(0);
            }};
}

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
#ifdef Q_OS_WIN
    // Started from a console, the log echo goes there; started from the desktop, no console opens.
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        freopen("CONOUT$", "w", stdout);
        freopen("CONOUT$", "w", stderr);
    }
#endif
    QCoreApplication::setOrganizationName(QStringLiteral("Tavolin"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tavolin.example"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVOLIN_VERSION));
    Invocation invocation;
    {
        // --version names the command as it is called.
        QCoreApplication application(argc, argv);
        invocation = readCommandLine(application);
        // Set, not taken from the executable's name: the settings stay in
        // Tavolin/TavolinEncoder whatever the executable is called.
        QCoreApplication::setApplicationName(QStringLiteral("TavolinEncoder"));
        if (!invocation.command.isEmpty())
            return runCommand(invocation);
#ifdef Q_OS_LINUX
        // The settings file keeps the stream password; private before anything reads or writes it.
        const QString settingsFile = QSettings().fileName();
        if (!makeSettingsFilePrivate(settingsFile))
            qWarning("Could not make the settings file %s private", qUtf8Printable(settingsFile));
#endif
        if (invocation.headless)
            return runHeadless(application);
        // One copy per user: a second start brings the first one's window to the front.
        if (!sendCommand(QStringLiteral("show")).isEmpty()) {
            std::fputs("Tavolin Encoder runs already: its window comes to the front\n", stdout);
            return Done;
        }
    }
    return runWindow(argc, argv);
}
