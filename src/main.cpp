#include "models/logsmodel.h"
#include "models/playermodel.h"
#include "quickrenderer.h"
#include "storedsettings.h"

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
    QGuiApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tavolin"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tavolin.example"));
#ifdef Q_OS_LINUX
    const TerminationSignals terminationSignals;
    // The window keeps the stream password in this file; private before the window reads or writes it.
    const QString settingsFile = QSettings().fileName();
    if (!makeSettingsFilePrivate(settingsFile))
        qWarning("Could not make the settings file %s private", qUtf8Printable(settingsFile));
#endif

    chooseQuickRenderer();
    qmlRegisterType<PlayerModel>("com.tavolin", 1, 0, "PlayerModel");
    qmlRegisterType<LogsModel>("com.tavolin", 1, 0, "LogsModel");
    qmlRegisterType<StoredSettings>("com.tavolin", 1, 0, "StoredSettings");
    const QQmlApplicationEngine engine(QUrl(QStringLiteral("qrc:/src/qml/TavolinEncoder.qml"), QUrl::TolerantMode));
    return application.exec();
}
