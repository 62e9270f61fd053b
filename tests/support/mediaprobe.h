#pragma once

#include <QByteArray>
#include <QJsonObject>

// What ffprobe reads from received media: the first stream's entry of
// -show_streams (codec_name, sample_rate, channels, bit_rate, ...).
QJsonObject probeFirstStream(const QByteArray &media);
