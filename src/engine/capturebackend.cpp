#include "capturebackend.h"

CaptureBackend CaptureBackend::platformDefault()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("dshow"), QStringLiteral("audio=")};
#else
    // Serves PulseAudio and PipeWire desktops; the URL is the source name.
    return {QStringLiteral("pulse"), QString()};
#endif
}
