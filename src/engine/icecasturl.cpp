#include "icecasturl.h"

#include <QUrl>

namespace {

const QLatin1String scheme("icecast://");

} // namespace

QString icecastUrl(const QString &user, const QString &password, const QString &hostname, int port,
                   const QString &mount)
{
    return QStringLiteral("icecast://%1:%2@%3:%4/%5")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(user)),
             QString::fromLatin1(QUrl::toPercentEncoding(password)), hostname, QString::number(port), mount);
}

QString shoutcastUrl(const QString &hostname, int port)
{
    return QStringLiteral("tcp://%1:%2").arg(hostname, QString::number(port + 1));
}

QString withHttpsScheme(const QString &url)
{
    return QStringLiteral("https://") + url.mid(scheme.size());
}

QString withHiddenPassword(const QString &url)
{
    // The encoded user holds no ":" and the encoded password no "@".
    const int passwordStart = url.indexOf(QLatin1Char(':'), scheme.size()) + 1;
    const int passwordEnd = url.indexOf(QLatin1Char('@'), passwordStart);
    if (!url.startsWith(scheme) || passwordStart == 0 || passwordEnd < 0)
        return url;
    return url.left(passwordStart) + QStringLiteral("****") + url.mid(passwordEnd);
}
