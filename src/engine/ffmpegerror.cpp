#include "ffmpegerror.h"

extern "C" {
#include <libavutil/error.h>
}

QString ffmpegErrorText(int code)
{
    char text[64];
    av_strerror(code, text, sizeof text);
    return QString::fromLatin1(text);
}

QString withFFmpegError(const QString &message, int code)
{
    return message + QStringLiteral("(error ") + ffmpegErrorText(code) + QLatin1Char(')');
}
