#include "mediaprobe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryFile>

QJsonObject probeFirstStream(const QByteArray &media)
{
    QTemporaryFile file;
    if (!file.open())
        return {};
    file.write(media);
    file.flush();
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-of"),
                                              QStringLiteral("json"), QStringLiteral("-show_streams"), file.fileName()});
    if (!ffprobe.waitForFinished(10000)) {
        ffprobe.kill();
        ffprobe.waitForFinished(1000);
        return {};
    }
    const QJsonArray streams = QJsonDocument::fromJson(ffprobe.readAllStandardOutput())
                                   .object().value(QStringLiteral("streams")).toArray();
    return streams.isEmpty() ? QJsonObject() : streams.first().toObject();
}
