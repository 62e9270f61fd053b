import QtQuick 2.12
import QtQuick.Controls 2.15
import QtTest 1.2

DocumentTestCase {
    name: "StreamDialog"

    readonly property var keysOf: ({
        "liveSourceSettings": ["currentIndex", "deviceIndex", "deviceName"],
        "startupSettings": ["openApplicationOnSystemStartup", "startStreamOnAppStart"],
        "streamSettings": ["name", "description", "genre", "url", "hostname", "port", "mount", "user", "password",
                           "encoder", "encoderIndex", "protocol", "protocolIndex", "bitrate", "bitrateIndex",
                           "samplerate", "samplerateIndex", "certificateFile", "reconnect"]
    })

    function forEachKey(fn) {
        for (var object in keysOf) {
            for (var i = 0; i < keysOf[object].length; ++i)
                fn(child(object), keysOf[object][i]);
        }
    }

    function openStreamDialog() {
        openDocument();
        openDialog("editStream", "streamButtons");
    }

    function press(button) {
        mouseClick(child("streamButtons").standardButton(button));
        tryCompare(child("editStream"), "visible", false);
    }

    // A field's text (or a box's index) at Save and what is stored for it.
    function test_save_data() {
        return [
            { tag: "name trimmed", field: "streamSettingsName", text: "  Tavolin FM  ", key: "name", stored: "Tavolin FM" },
            { tag: "hostname trimmed", field: "streamSettingsHostname", text: " 127.0.0.1\t", key: "hostname", stored: "127.0.0.1" },
            { tag: "password trimmed", field: "streamSettingsPassword", text: "secret ", key: "password", stored: "secret" },
            { tag: "mount slash", field: "streamSettingsMount", text: "/live", key: "mount", stored: "live" },
            { tag: "mount two slashes", field: "streamSettingsMount", text: "//live", key: "mount", stored: "/live" },
            { tag: "mount blanks then slash", field: "streamSettingsMount", text: "  /radio ", key: "mount", stored: "radio" },
            { tag: "port", field: "streamSettingsPort", text: "8443", key: "port", stored: 8443 },
            { tag: "empty port keeps stored", field: "streamSettingsPort", text: "", key: "port", stored: 8000 },
            { tag: "320k", box: "streamSettingsBitrate", index: 17, key: "bitrate", stored: "320k" },
            { tag: "48000", box: "streamSettingsSamplerate", index: 5, key: "samplerate", stored: 48000 },
            { tag: "HTTPS", box: "streamSettingsProtocol", index: 1, key: "protocol", stored: "HTTPS" },
            { tag: "certificate file trimmed", field: "streamSettingsCertificateFile", text: " /etc/ssl/own.pem ", key: "certificateFile", stored: "/etc/ssl/own.pem" }
        ];
    }

    function test_save(data) {
        openStreamDialog();
        var stream = child("streamSettings");
        if (data.box)
            child(data.box).currentIndex = data.index;
        else
            child(data.field).text = data.text;
        press(DialogButtonBox.Save);

        compare(stream[data.key], data.stored);
        compare(typeof stream[data.key], typeof data.stored);
        if (data.box)
            compare(stream[data.key + "Index"], data.index);
        else
            compare(child(data.field).text, String(data.stored));
    }

    // On a fresh store: the defaults stay, and the fields show them again.
    function test_cancelRestores() {
        openStreamDialog();
        var stream = child("streamSettings");
        child("streamSettingsName").text = "Edited";
        child("streamSettingsPort").text = "1234";
        child("streamSettingsMount").text = "/other";
        child("streamSettingsBitrate").currentIndex = 17;
        press(DialogButtonBox.Cancel);

        compare([stream.name, stream.hostname, stream.port, stream.mount, stream.bitrate, stream.bitrateIndex,
                 stream.samplerate, stream.samplerateIndex], ["", "localhost", 8000, "live", "128k", 12, 44100, 4]);
        compare(child("streamSettingsName").text, "");
        compare(child("streamSettingsPort").text, "8000");
        compare(child("streamSettingsMount").text, "live");
        compare(child("streamSettingsBitrate").currentIndex, 12);
    }

    // The stored keys lie at the top level of the store and come back in a new
    // document: the stored device is found by its name although its stored
    // position is another one, and the stream starts by itself.
    function test_settingsSurviveRecreation() {
        openDocument();
        var sources = child("playerModel").liveSources();
        var server = testEnvironment.server;
        var position = -1;
        for (var i = 0; i < sources.length; ++i) {
            if (sources[i].index === server.source)
                position = i;
        }
        verify(position >= 0, "the private tone source is listed");
        verify(sources.length >= 2, "another source to store as the position");

        var values = {
            "currentIndex": (position + 1) % sources.length, "deviceIndex": server.source,
            "deviceName": sources[position].deviceName,
            "openApplicationOnSystemStartup": true, "startStreamOnAppStart": true,
            "name": "Tavolin FM", "description": "Loopback", "genre": "Tones", "url": "http://radio.invalid/",
            "hostname": server.hostname, "port": server.port, "mount": "tone", "user": server.user,
            "password": server.password, "encoder": "MP3", "encoderIndex": 0, "protocol": "HTTP",
            "protocolIndex": 0, "bitrate": "96k", "bitrateIndex": 10, "samplerate": 48000, "samplerateIndex": 5, "certificateFile": "", "reconnect": true
        };
        forEachKey(function (settings, key) { settings[key] = values[key]; });
        closeDocument();

        var stored = testEnvironment.storedSettings();
        compare(Object.keys(stored).sort(), Object.keys(values).sort());
        for (var key in values)
            compare(String(stored[key]), String(values[key]), key);

        openDocument();
        compare(child("liveSourceSelector").currentIndex, position);
        values.currentIndex = position;
        forEachKey(function (settings, key) { compare(settings[key], values[key], key); });
        verify(child("openOnStartupBox").checked);
        verify(child("reconnectBox").checked);
        tryCompare(child("statusText"), "text", "On Air", 20000);
        mouseClick(child("startImage"));
        tryCompare(child("statusText"), "text", "Off", 10000);
    }
}
