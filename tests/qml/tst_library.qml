import QtQuick 2.12
import QtTest 1.2
import "../../src/qml/library.js" as Library

DocumentTestCase {
    id: testCase
    name: "Library"

    // Only observes what the library hands to the model.
    QtObject {
        id: recordingModel
        property var maps: []
        function togglePlayPause(map) {
            maps.push(map);
        }
    }

    // A tap while busy does nothing; otherwise the model gets plain copies.
    function test_startPlayer_data() {
        return [
            { tag: "idle", busy: false, calls: 1 },
            { tag: "busy", busy: true, calls: 0 }
        ];
    }

    function test_startPlayer(data) {
        openDocument();
        var stream = child("streamSettings");
        var liveSource = child("liveSourceSettings");
        stream.port = 8443;
        liveSource.deviceIndex = "tone";
        liveSource.deviceName = "Tone";
        recordingModel.maps = [];
        compare(Library.startPlayer(recordingModel, stream, liveSource, data.busy), data.calls === 1);
        compare(recordingModel.maps.length, data.calls);
        if (data.calls === 0)
            return;

        var map = recordingModel.maps[0];
        for (var i = 0; i < streamKeys.length; ++i)
            compare(map.stream[streamKeys[i]], stream[streamKeys[i]], streamKeys[i]);
        compare(typeof map.stream.port, "number");
        compare(map.liveSource, { "index": "tone", "name": "Tone" });
        stream.port = 8000;
        liveSource.deviceName = "Changed";
        compare(map.stream.port, 8443);
        compare(map.liveSource.name, "Tone");
    }

    // A file dialog's URL, on Windows with a drive letter.
    function test_localPath() {
        compare(Library.localPath("file:///home/me/own%20server.pem"), "/home/me/own server.pem");
        compare(Library.localPath("file:///C:/Users/me/own.pem"), "C:/Users/me/own.pem");
    }
}
