#include "commandchannel.h"
#include "headless.h"
#include "station.h"
#include "storedvalues.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QThread>

#include <cstdio>

#ifdef Q_OS_WIN
#include "window.h"
#include <windows.h>
#endif
#ifdef Q_OS_LINUX
#include "settingsfile.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <cerrno>
#include <cstring>
#include <unistd.h>
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
Invocation readCommandLine()
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

#ifdef Q_OS_LINUX
// The window's program: beside this one in a build, in its private folder
// where it is installed.
QString windowProgramPath()
{
    const QDir here(QCoreApplication::applicationDirPath());
    const QString besides = here.filePath(QStringLiteral("tavolin-encoder-window"));
    return QFileInfo::exists(besides) ? besides : here.filePath(QStringLiteral(TAVOLIN_WINDOW_PROGRAM));
}
#endif

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
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVOLIN_VERSION));
    Invocation invocation;
#ifdef Q_OS_LINUX
    QString windowProgram;
#endif
    {
        QCoreApplication application(argc, argv);
        // --version names the command as it is called: the name is set after.
        invocation = readCommandLine();
        setApplicationIdentity();
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
        const QJsonObject shown = sendCommand(QStringLiteral("show"));
        if (!shown.isEmpty()) {
            std::printf("Tavolin Encoder runs already: %s\n",
                        qUtf8Printable(shown.value(QStringLiteral("message")).toString()));
            return Done;
        }
#ifdef Q_OS_LINUX
        windowProgram = windowProgramPath();
        // The window's logon entry names this program, which the window's does not know.
        qputenv("TAVOLIN_PROGRAM", QFile::encodeName(QCoreApplication::applicationFilePath()));
#endif
    }
#ifdef Q_OS_LINUX
    // The window's program in this process, with the same arguments.
    ::execv(QFile::encodeName(windowProgram).constData(), argv);
    std::fprintf(stderr, "Could not start %s: %s\n", qPrintable(windowProgram), std::strerror(errno));
    return Refused;
#else
    return runWindow(argc, argv);
#endif
}
