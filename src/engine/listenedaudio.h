#pragma once

#include <QByteArray>
#include <QString>

// What a listener of a stream received, decoded as any player would: the
// codec, the rate and the level of what it heard.
struct ListenedAudio
{
    // As FFmpeg names the codec: "mp3", "aac", "opus", "vorbis", "flac".
    QString codecName;
    int sampleRate = 0;
    // Decoded samples per channel.
    qint64 samples = 0;
    // The RMS level of all of it in dB; -inf for digital silence.
    double levelDb = 0.0;
};

// Decodes a stream's bytes as they came, in whatever container and codec
// they are; the first audio stream only.
ListenedAudio decodeListened(const QByteArray &bytes);
