#include "models/logsmodel.h"
#include "models/playermodel.h"
#include "quickrenderer.h"
#include "storedsettings.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QUrl>

#ifdef Q_OS_WIN
#include <cstdio>
#include <windows.h>
#endif
#ifdef Q_OS_LINUX
#include "settingsfile.h"
#include "terminationsignals.h"
#include <QSettings>
#endif

namespace {

// --help and --version, answered before the window's application exists: a
// terminal without a display gets them too. Every other argument is left to
// Qt (-platform, -reverse ...) or ignored, as before.
void answerHelpAndVersion(int &argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Captures an audio device and streams it live to an Icecast or Shoutcast server."));
    // Qt's one-dash words are words, not rows of one-letter options such as -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Not addHelpOption: its --help-all would list Qt's options, which only
    // the window's application knows.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help."));
    parser.addOption(help);
    parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
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
    // --version names the command as it is called.
    answerHelpAndVersion(argc, argv);
    // Set, not taken from the executable's name: the settings stay in
    // Tavolin/TavolinEncoder whatever the executable is called.
    QCoreApplication::setApplicationName(QStringLiteral("TavolinEncoder"));
    QGuiApplication application(argc, argv);
    // The desktop entry's name, which Wayland compositors match windows by.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.tavolin.TavolinEncoder"));
#ifdef Q_OS_LINUX
    const TerminationSignals terminationSignals;
    // The window keeps the stream password in this file; private before the window reads or writes it.
    const QString settingsFile = QSettings().fileName();
    if (!makeSettingsFilePrivate(settingsFile))
        qWarning("Could not make the settings file %s private", qUtf8Printable(settingsFile));
    PlayerModel::renewRenamedAutoStart();
#endif

    chooseQuickRenderer();
    qmlRegisterType<PlayerModel>("com.tavolin", 1, 0, "PlayerModel");
    qmlRegisterType<LogsModel>("com.tavolin", 1, 0, "LogsModel");
    qmlRegisterType<StoredSettings>("com.tavolin", 1, 0, "StoredSettings");
    const QQmlApplicationEngine engine(QUrl(QStringLiteral("qrc:/src/qml/TavolinEncoder.qml"), QUrl::TolerantMode));
    return application.exec();
}
