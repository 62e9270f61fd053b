#include "settingsfile.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool makeSettingsFilePrivate(const QString &fileName)
{
    if (!QDir().mkpath(QFileInfo(fileName).absolutePath()))
        return false;
    const QByteArray path = QFile::encodeName(fileName);
    // O_CREAT with 0600 creates it private from the first byte; no window in
    // which another user could open it.
    const int descriptor = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor < 0)
        return false;
    const bool changed = ::fchmod(descriptor, S_IRUSR | S_IWUSR) == 0;
    ::close(descriptor);
    return changed;
}
