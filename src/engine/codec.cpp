#include "codec.h"

#include "models/logsmodel.h"

#include <array>

namespace {

// In the order of the codec box. Players take a CUE sheet's "WAVE" for any
// file they decode; "MP3" is its own type. FLAC is 16-bit: what capture devices give,
// at a third less than 24 bits. Opus is fed floats, which libopus takes as
// they are.
const std::array<Codec, 5> codecs{{
    {QStringLiteral("MP3"), "libmp3lame", "mp3", "audio/mpeg", nullptr, QStringLiteral(".mp3"), "MP3", 0, true,
     nullptr, false},
    {QStringLiteral("AAC"), "aac", "adts", "audio/aac", "adts", QStringLiteral(".aac"), "WAVE", 0, true, nullptr,
     false},
    {QStringLiteral("Opus"), "libopus", "ogg", "audio/ogg", "ogg", QStringLiteral(".opus"), "WAVE", 48000, true,
     "flt", true},
    {QStringLiteral("Vorbis"), "libvorbis", "ogg", "audio/ogg", "ogg", QStringLiteral(".ogg"), "WAVE", 0, true,
     nullptr, true},
    {QStringLiteral("FLAC"), "flac", "ogg", "audio/ogg", "flac", QStringLiteral(".flac"), "WAVE", 0, false, "s16",
     true},
}};

} // namespace

Codec codecOf(const QString &encoder)
{
    for (const Codec &codec : codecs) {
        if (codec.shownName == encoder)
            return codec;
    }
    LogsModel::log(QStringLiteral("Unknown codec \"%1\": streaming MP3").arg(encoder));
    return codecs.front();
}
