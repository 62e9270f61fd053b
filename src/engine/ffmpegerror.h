#pragma once

#include <QString>

// The text of an FFmpeg error code, as av_strerror gives it.
QString ffmpegErrorText(int code);

// message + "(error " + text + ")", the form of every message that carries a code.
QString withFFmpegError(const QString &message, int code);
