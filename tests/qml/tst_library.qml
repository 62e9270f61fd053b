import QtQuick 2.12
import QtTest 1.2
import "../../src/qml/library.js" as Library

DocumentTestCase {
    id: testCase
    name: "Library"

    property int timerFired: 0

    // Only observes what the library hands to the model.
    QtObject {
        id: recordingModel
        property var maps: []
        function togglePlayPause(map) {
            maps.push(map);
        }
    }

    function test_startPlayer_data() {
        return [
            { tag: "idle", isChanging: false, calls: 1 },
            { tag: "changing", isChanging: true, calls: 0 }
        ];
    }

    function test_startPlayer(data) {
        openDocument();
        recordingModel.maps = [];
        Library.startPlayer(recordingModel, child("streamSettings"), child("liveSourceSettings"), data.isChanging);
        compare(recordingModel.maps.length, data.calls);
    }

    function test_settingsMapIsPlainCopy() {
        openDocument();
        var stream = child("streamSettings");
        var liveSource = child("liveSourceSettings");
        stream.hostname = "radio.example";
        stream.port = 8443;
        liveSource.deviceIndex = "tone";
        liveSource.deviceName = "Tone";
        recordingModel.maps = [];
        Library.startPlayer(recordingModel, stream, liveSource, false);
        var map = recordingModel.maps[0];

        var keys = ["name", "description", "genre", "url", "hostname", "port", "mount", "user", "password",
                    "encoder", "encoderIndex", "protocol", "protocolIndex", "bitrate", "bitrateIndex",
                    "samplerate", "samplerateIndex", "certificateFile", "reconnect"];
        for (var i = 0; i < keys.length; ++i)
            compare(map.stream[keys[i]], stream[keys[i]], keys[i]);
        compare(typeof map.stream.port, "number");
        compare(map.liveSource, { "index": "tone", "name": "Tone" });

        stream.hostname = "changed.example";
        liveSource.deviceName = "Changed";
        compare(map.stream.hostname, "radio.example");
        compare(map.liveSource.name, "Tone");
    }

    function test_setTimeoutFiresOnce() {
        timerFired = 0;
        Library.setTimeout(function () { ++testCase.timerFired; }, 50, testCase);
        tryCompare(testCase, "timerFired", 1, 2000);
        wait(300);
        compare(timerFired, 1);
    }

    function test_initialSourceIndex_data() {
        var sources = [{ "index": "a", "deviceName": "A" }, { "index": "b", "deviceName": "B" },
                       { "index": "c", "deviceName": "C" }];
        return [
            { tag: "stored device listed elsewhere", sources: sources, deviceIndex: "c", currentIndex: 0, expected: 2 },
            { tag: "stored device at its position", sources: sources, deviceIndex: "b", currentIndex: 1, expected: 1 },
            { tag: "stored device gone", sources: sources, deviceIndex: "x", currentIndex: 1, expected: 1 },
            { tag: "first run", sources: sources, deviceIndex: "", currentIndex: 0, expected: 0 },
            { tag: "no devices", sources: [], deviceIndex: "a", currentIndex: 2, expected: 2 }
        ];
    }

    function test_initialSourceIndex(data) {
        compare(Library.initialSourceIndex(data.sources, data.deviceIndex, data.currentIndex), data.expected);
    }

    function test_localPath_data() {
        return [
            { tag: "unix", url: "file:///home/me/own%20server.pem", expected: "/home/me/own server.pem" },
            { tag: "windows", url: "file:///C:/Users/me/own.pem", expected: "C:/Users/me/own.pem" }
        ];
    }

    function test_localPath(data) {
        compare(Library.localPath(data.url), data.expected);
    }
}
