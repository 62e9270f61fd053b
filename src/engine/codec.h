#pragma once

#include <QString>

// What the engine needs to know of one codec of the window's codec box: how
// it is encoded, sent and recorded. Plain FFmpeg names, so that only the
// engine's stages look them up.
struct Codec
{
    // The text of the codec box, stored as the setting "encoder".
    QString shownName;
    const char *encoderName = nullptr;
    // The muxer of the stream that the server gets, and its content type.
    const char *streamFormat = nullptr;
    const char *contentType = nullptr;
    // The muxer of the recording; null: the packets are written as they come.
    const char *fileFormat = nullptr;
    QString fileExtension;
    // The FILE type of the recording's CUE sheet.
    const char *cueFileType = nullptr;
    // The rate the codec always encodes at, whatever the user chose; 0: the chosen one.
    int fixedSampleRate = 0;
    bool takesBitrate = true;
    // The sample format the encoder is fed; null: its first.
    const char *sampleFormat = nullptr;
    // An Ogg stream: comment headers carry its titles.
    bool oggStream = false;
};

// The codec that the stored "encoder" text names; MP3, with a log line, for a
// text that names none. The stored index only places the window's box.
Codec codecOf(const QString &encoder);
