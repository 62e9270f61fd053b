import QtQuick 2.12
import QtTest 1.2
import "../../src/qml/library.js" as Library

DocumentTestCase {
    name: "Library"

    // Only observes what the library hands to the model.
    QtObject {
        id: recordingModel
        property var maps: []
        function togglePlayPause(map) { maps.push(map); }
    }

    // A tap while busy does nothing; otherwise the model gets plain copies of
    // every stored key (the port a number), which later edits do not change.
    function test_startPlayer() {
        openDocument();
        var stream = child("streamSettings");
        var liveSource = child("liveSourceSettings");
        stream.port = 8443;
        liveSource.deviceIndex = "tone";
        liveSource.deviceName = "Tone";
        verify(!Library.startPlayer(recordingModel, stream, liveSource, true));
        compare(recordingModel.maps.length, 0);
        verify(Library.startPlayer(recordingModel, stream, liveSource, false));

        var map = recordingModel.maps[0];
        compare(JSON.stringify(map.stream), JSON.stringify(stream));
        compare(map.liveSource, { "index": "tone", "name": "Tone" });
        stream.port = 8000;
        compare(map.stream.port, 8443);
    }

    // A stream's row shows the state of the stream that its settings started,
    // also once a stream has been switched on or off since: the second
    // stream here was off in the run, the third on.
    function test_runStateOf() {
        var streams = [{}, {}, {}];
        var run = [{ "state": "On Air" }, { "state": "Reconnecting in 3 s" }];
        var shown = streams.map(function (settings) { return Library.runStateOf(settings, [streams[0], streams[2]], run).state; });
        compare(shown, ["On Air", undefined, "Reconnecting in 3 s"]);
    }

    // A file dialog's URL, on Windows with a drive letter.
    function test_localPath() {
        compare(Library.localPath("file:///home/me/own%20server.pem"), "/home/me/own server.pem");
        compare(Library.localPath("file:///C:/Users/me/own.pem"), "C:/Users/me/own.pem");
    }
}
