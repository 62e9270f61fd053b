#pragma once

#include <QString>

// The FFmpeg input that captures audio, and how a device name becomes its URL.
struct CaptureBackend
{
    QString formatName;
    QString urlPrefix;

    static CaptureBackend platformDefault();
};
