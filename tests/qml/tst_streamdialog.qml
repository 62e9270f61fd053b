import QtQuick 2.12
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtTest 1.2

DocumentTestCase {
    name: "StreamDialog"

    // Calls fn with the window's settings object that holds each key.
    function forEachSetting(values, fn) {
        var objects = [child("liveSourceSettings"), child("startupSettings"), child("streamSettings"),
                       child("nowPlayingSettings")];
        for (var key in values) {
            var holders = objects.filter(function (object) { return key in object; });
            compare(holders.length, 1, key);
            fn(holders[0], key);
        }
    }

    // A field's text (or a box's index) at Save and what is stored for it;
    // the stored port before is 8123.
    function test_save_data() {
        return [
            { tag: "name trimmed", field: "streamSettingsName", text: "  Tavolin FM\t", key: "name", stored: "Tavolin FM" },
            { tag: "mount two slashes", field: "streamSettingsMount", text: "//live", key: "mount", stored: "/live" },
            { tag: "mount blanks then slash", field: "streamSettingsMount", text: "  /radio ", key: "mount", stored: "radio" },
            { tag: "port 65535", field: "streamSettingsPort", text: "65535", key: "port", stored: 65535 },
            { tag: "empty port keeps stored", field: "streamSettingsPort", text: "", key: "port", stored: 8123 },
            { tag: "port 0 keeps stored", field: "streamSettingsPort", text: "0", key: "port", stored: 8123 },
            { tag: "port 70000 keeps stored", field: "streamSettingsPort", text: "70000", key: "port", stored: 8123 },
            { tag: "320k", box: "streamSettingsBitrate", index: 17, key: "bitrate", stored: "320k" },
            { tag: "48000", box: "streamSettingsSamplerate", index: 5, key: "samplerate", stored: 48000 },
            { tag: "Shoutcast", box: "streamSettingsProtocol", index: 2, key: "protocol", stored: "Shoutcast" }
        ];
    }

    function test_save(data) {
        openDocument();
        var stream = child("streamSettings");
        stream.port = 8123;
        openDialog("editStream", "streamButtons");
        if (data.box)
            child(data.box).currentIndex = data.index;
        else
            child(data.field).text = data.text;
        mouseClick(child("streamButtons").standardButton(DialogButtonBox.Save));
        tryCompare(child("editStream"), "visible", false);

        compare(stream[data.key], data.stored);
        // A Shoutcast server knows no user and no mount; the port is the one below the source's.
        var shoutcast = data.stored === "Shoutcast";
        compare([child("streamSettingsUser").enabled, child("streamSettingsMount").enabled,
                 child("shoutcastPortHint").visible], [!shoutcast, !shoutcast, shoutcast]);
        if (data.box)
            compare(stream[data.key + "Index"], data.index);
        else
            compare(child(data.field).text, String(data.stored));
    }

    // Opus encodes at 48000 Hz alone and FLAC takes no bit rate: their boxes
    // are disabled, and Save keeps the stored rate, also one chosen before the codec.
    // No Ogg codec goes with Shoutcast.
    function test_codecRules_data() {
        return [ { tag: "MP3", index: 0, shownRate: "8000", samplerate: 8000, bitrate: "320k", ogg: false },
                 { tag: "Opus", index: 2, shownRate: "48000", samplerate: 22050, bitrate: "320k", ogg: true },
                 { tag: "FLAC", index: 4, shownRate: "8000", samplerate: 8000, bitrate: "128k", ogg: true } ];
    }

    function test_codecRules(data) {
        openDocument();
        var stream = child("streamSettings");
        stream.samplerate = 22050;
        var dialog = openDialog("editStream", "streamButtons");
        var rate = child("streamSettingsSamplerate");
        var bitrate = child("streamSettingsBitrate");
        var titles = child("streamSettingsInStreamTitles");
        rate.currentIndex = 0;
        bitrate.currentIndex = 17;
        child("streamSettingsEncoder").currentIndex = data.index;
        titles.checked = true;
        compare([rate.displayText, rate.enabled, bitrate.enabled, titles.enabled],
                [data.shownRate, data.tag !== "Opus", data.tag !== "FLAC", data.ogg]);
        // Shoutcast carries no Ogg stream: that combination cannot be saved.
        child("streamSettingsProtocol").currentIndex = 2;
        var save = child("streamButtons").standardButton(DialogButtonBox.Save);
        compare([child("shoutcastCodecHint").visible, save.enabled], [data.ogg, !data.ogg]);
        child("streamSettingsProtocol").currentIndex = 0;
        mouseClick(child("streamButtons").standardButton(DialogButtonBox.Save));
        tryCompare(dialog, "visible", false);

        compare([stream.encoder, stream.encoderIndex, stream.samplerate, stream.bitrate, stream.inStreamTitles],
                [data.tag, data.index, data.samplerate, data.bitrate, true]);
    }

    // On a fresh store, closed other than by Save (Escape and the window's
    // close button reject it): the defaults stay, and the next opening shows them.
    function test_closeRestores_data() {
        return [ { tag: "Cancel", cancel: true }, { tag: "rejected", cancel: false } ];
    }

    function test_closeRestores(data) {
        openDocument();
        var dialog = openDialog("editStream", "streamButtons");
        var stream = child("streamSettings");
        child("streamSettingsName").text = "Edited";
        child("streamSettingsPort").text = "1234";
        child("streamSettingsBitrate").currentIndex = 17;
        if (data.cancel)
            mouseClick(child("streamButtons").standardButton(DialogButtonBox.Cancel));
        else
            dialog.reject();
        tryCompare(dialog, "visible", false);
        openDialog("editStream", "streamButtons");

        compare([stream.name, stream.port, stream.bitrate, stream.bitrateIndex, child("streamSettingsName").text,
                 child("streamSettingsPort").text, child("streamSettingsBitrate").currentIndex],
                ["", 8000, "128k", 12, "", "8000", 12]);
    }

    // Values that the window does not offer, as a file written by hand holds
    // them, show as they are and stay stored through a Save of another field.
    function test_valuesWrittenByHand() {
        openDocument();
        child("streamSettings").silenceSeconds = 45;
        child("streamSettings").bitrate = "100k";
        cleanup();
        openDocument();
        compare(child("silenceSelector").currentText, "Warn after 45 s of silence");
        var dialog = openDialog("editStream", "streamButtons");
        compare(child("streamSettingsBitrate").currentText, "100k");
        child("streamSettingsName").text = "Renamed";
        mouseClick(child("streamButtons").standardButton(DialogButtonBox.Save));
        tryCompare(dialog, "visible", false);
        cleanup();
        var stored = testEnvironment.storedSettings();
        compare([stored.silenceSeconds, stored.bitrate, stored.bitrateIndex, stored.name].map(String),
                ["45", "100k", "12", "Renamed"]);
    }

    // Streams added, edited, switched off and removed through the stream list:
    // each further stream is a group of its own, the first stays at the top
    // level, and a removal moves the groups after it down.
    function test_streamGroups() {
        openDocument();
        child("streamSettings").name = "Tavolin FM";
        child("detailsView").state = "VIEW_STREAMS";
        waitForRendering(child("streamsView"));
        var added = [["second", false], ["", true], ["third", false]];
        for (var i = 0; i < added.length; ++i) {
            waitForRendering(child("addStreamButton"));
            mouseClick(child("addStreamButton"));
            var dialog = openDialog("editStream", "streamButtons");
            compare(child("streamSettingsName").text, "Tavolin FM");
            // Another stream's buttons would leave the open form on the wrong stream.
            compare([child("addStreamButton").enabled, child("configureStreamButton").enabled], [false, false]);
            child("streamSettingsMount").text = added[i][0];
            mouseClick(child("streamButtons").standardButton(added[i][1] ? DialogButtonBox.Cancel : DialogButtonBox.Save));
            tryCompare(dialog, "visible", false);
        }
        compare(testEnvironment.storedGroups(), ["stream2", "stream3"]);
        mouseClick(findChild(child("streamRow1"), "streamOnBox"));
        compare(testEnvironment.storedSettings("stream2").enabled, false);
        mouseClick(findChild(child("streamRow1"), "removeStreamButton"));
        child("removeStreamDialog").click(StandardButton.Yes);
        tryCompare(window.streamObjects, "length", 2);
        var stored = testEnvironment.storedSettings("stream2");
        compare([stored.mount, stored.name, stored.enabled, stored.hostname].map(String),
                ["third", "Tavolin FM", "true", "localhost"]);
        compare(testEnvironment.storedGroups(), ["stream2"]);
        compare(testEnvironment.storedSettings().mount, "live");

        // The window closed while an added stream's dialog is open keeps no new group.
        mouseClick(child("addStreamButton"));
        openDialog("editStream", "streamButtons");
        cleanup();
        compare(testEnvironment.storedGroups(), ["stream2"]);
    }

    // The stored keys lie at the top level of the store and come back in a new
    // document: the stored device is found by its name although its stored
    // position is another one.
    function test_settingsSurviveRecreation() {
        openDocument();
        verify(/.\/Tavolin Encoder$/.test(child("streamSettings").recordFolder), "the music folder's by default");
        var sources = child("playerModel").liveSources();
        var server = testEnvironment.server;
        var position = sources.findIndex(function (source) { return source.index === server.source; });
        verify(position >= 0 && sources.length >= 2, "the private tone source and another one are listed");

        var values = {
            "currentIndex": (position + 1) % sources.length, "deviceIndex": server.source,
            "deviceName": sources[position].deviceName,
            "openApplicationOnSystemStartup": true, "startStreamOnAppStart": true,
            "name": "Tavolin FM", "description": "Loopback", "genre": "Tones", "url": "http://radio.invalid/",
            "hostname": server.hostname, "port": server.port, "mount": "tone", "user": server.user,
            "password": server.password, "encoder": "Vorbis", "encoderIndex": 3, "inStreamTitles": true, "protocol": "HTTP",
            "protocolIndex": 0, "bitrate": "96k", "bitrateIndex": 10, "samplerate": 48000, "samplerateIndex": 5,
            "certificateFile": "", "reconnect": true, "record": true, "recordFolder": testEnvironment.recordingsFolder,
            "metadataFile": "/tmp/tavolin-test/now playing.txt", "silenceSeconds": 120,
            "listenerUrl": "http://relay.invalid/tone", "listenerCheck": false
        };
        forEachSetting(values, function (settings, key) { settings[key] = values[key]; });
        cleanup();

        var stored = testEnvironment.storedSettings();
        compare(Object.keys(stored).sort(), Object.keys(values).sort());
        for (var key in values)
            compare(String(stored[key]), String(values[key]), key);

        openDocument();
        values.currentIndex = position;
        forEachSetting(values, function (settings, key) { compare(settings[key], values[key], key); });
        compare(child("playerModel").metadataFile, values.metadataFile);
    }
}
