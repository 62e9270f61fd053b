// Start with the system: the program, started at the user's logon.
#include "playermodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString entryName = QStringLiteral("TavolinEncoder");

#ifndef Q_OS_WIN
// The program that a user starts. On Linux the window runs in a program of
// its own, to which tavolin-encoder hands over, naming itself.
QString startedProgram()
{
    const QString program = qEnvironmentVariable("TAVOLIN_PROGRAM");
    return program.isEmpty() ? QCoreApplication::applicationFilePath() : program;
}

// A desktop entry's Exec argument in double quotes: the characters that are
// special inside the quotes get a backslash, and the entry's string escaping
// then doubles every backslash; a literal "%" is "%%".
QString quotedExecArgument(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString autostartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
           + entryName + QStringLiteral(".desktop");
}

// Starts the running executable, with no arguments.
void writeAutostartEntry(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Tavolin Encoder\n"
                                        "Exec=%1\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(quotedExecArgument(startedProgram()));
    entry.write(text.toUtf8());
    entry.commit();
}
#endif

} // namespace

void PlayerModel::setAutoStart(bool autoStart)
{
#ifdef Q_OS_WIN
    QSettings run(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                  QSettings::NativeFormat);
    if (autoStart) {
        const QString path = QCoreApplication::applicationFilePath().replace(QLatin1Char('/'), QLatin1Char('\\'));
        run.setValue(entryName, QStringLiteral("\"%1\"").arg(path));
    } else {
        run.remove(entryName);
    }
#else
    // The XDG autostart entry: as on Windows, failures leave the option
    // without effect and report nothing.
    const QString path = autostartEntryPath();
    if (!autoStart) {
        QFile::remove(path);
        return;
    }
    writeAutostartEntry(path);
#endif
}

#ifdef Q_OS_LINUX
void PlayerModel::renewRenamedAutoStart()
{
    // Versions before the executable's rename wrote its path, ending in
    // /TavolinEncoder; from the new executable's first start the entry
    // starts the new one.
    const QString path = autostartEntryPath();
    QFile entry(path);
    if (entry.open(QIODevice::ReadOnly) && entry.readAll().contains("/TavolinEncoder\"\n"))
        writeAutostartEntry(path);
}
#endif
