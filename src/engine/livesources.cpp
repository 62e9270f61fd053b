#include "ffmpegerror.h"
#include "player.h"

#include "models/logsmodel.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/avutil.h>
}

namespace {

// An input that captures audio only (PulseAudio's) gives its devices no media
// types: each of them is an audio device. Inputs of both kinds (DirectShow)
// name the types, and a device counts once for each audio type it lists.
int audioEntries(const AVDeviceInfo &device, bool audioOnlyInput)
{
    if (device.nb_media_types == 0)
        return audioOnlyInput ? 1 : 0;
    int entries = 0;
    for (int i = 0; i < device.nb_media_types; ++i) {
        if (device.media_types[i] == AVMEDIA_TYPE_AUDIO)
            ++entries;
    }
    return entries;
}

bool isAudioOnlyInput(const AVInputFormat *format)
{
    return format->priv_class && format->priv_class->category == AV_CLASS_CATEGORY_DEVICE_AUDIO_INPUT;
}

} // namespace

QVariant Player::liveSources()
{
    const char *version = av_version_info();
    LogsModel::log(QStringLiteral("Initializing ffmpeg avdevices, version: %1")
                       .arg(version ? QString::fromUtf8(version) : QString()));
    avdevice_register_all();

    QVariantList sources;
    const QString formatName = captureBackend().formatName;
    const AVInputFormat *format = av_find_input_format(formatName.toUtf8().constData());
    if (!format) {
        reportError(QStringLiteral("No live sources available!"));
        LogsModel::log(QStringLiteral("Cannot find format ") + formatName);
        return sources;
    }

    AVDeviceInfoList *devices = nullptr;
    const int result = avdevice_list_input_sources(format, nullptr, nullptr, &devices);
    if (result < 0) {
        avdevice_free_list_devices(&devices);
        reportError(QStringLiteral("Error while listing devices occurred: ") + ffmpegErrorText(result));
        return sources;
    }
    const bool audioOnly = isAudioOnlyInput(format);
    for (int i = 0; i < devices->nb_devices; ++i) {
        const AVDeviceInfo &device = *devices->devices[i];
        const QVariantMap entry{{QStringLiteral("index"), QString::fromUtf8(device.device_name)},
                                {QStringLiteral("deviceName"), QString::fromUtf8(device.device_description)}};
        for (int n = audioEntries(device, audioOnly); n > 0; --n)
            sources.append(entry);
    }
    avdevice_free_list_devices(&devices);

    if (sources.isEmpty())
        reportError(QStringLiteral("No live sources available!"));
    return sources;
}
