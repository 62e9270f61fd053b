import QtQuick 2.12
import QtQuick.Controls 2.15
import QtTest 1.2

DocumentTestCase {
    name: "Window"

    // Each label opens its panel under its tab, from the footer or the tabs;
    // the cross folds the window back.
    function test_panels() {
        openDocument();
        var steps = [["footerLog", "Log"], ["tabSettings", "Settings"], ["tabStream", "Stream"], ["closeDetails", ""],
                     ["footerSettings", "Settings"], ["tabLog", "Log"], ["closeDetails", ""], ["footerStream", "Stream"]];
        for (var i = 0; i < steps.length; ++i) {
            mouseClick(child(steps[i][0]));
            compare(window.height > 200, steps[i][1] !== "", steps[i][0]);
            compare(child("footerTabs").visible, steps[i][1] === "", steps[i][0]);
            for (var tab of ["Stream", "Log", "Settings"])
                compare(findChild(child("tab" + tab), "underline").visible, tab === steps[i][1], steps[i][0] + tab);
        }
    }

    function test_dragCollapsedWindowTaller() {
        openDocument();
        // As a drag does: the window system reports the new height later.
        window.height = 260;
        tryCompare(child("detailsView"), "state", "VIEW_STREAMS_WINDOW_RESIZE");
        wait(50);
        compare(window.height, 260);
        verify(child("streamsView").visible);
        verify(findChild(child("tabStream"), "underline").visible);

        window.height = 200;
        tryCompare(child("detailsView"), "state", "HIDDEN");
        verify(child("footerTabs").visible);
    }

    // Each meter shows its own channel's level.
    function test_meterMask() {
        openDocument();
        child("playerView").leftLevel = 90;
        compare(child("leftMeterMask").height, 12);
        compare(child("rightMeterMask").height, 120);
    }

    // The amber badge beside the status while the engine warns of dead air,
    // with the seconds counting; the setting's choices from the default.
    function test_silenceBadge() {
        openDocument();
        var view = child("playerView");
        verify(!child("silenceBadge").visible);
        view.deadAirSeconds = 30;
        verify(child("silenceBadge").visible);
        compare(child("silenceText").text, "SILENCE 30 s");
        view.deadAirSeconds = 31;
        compare(child("silenceText").text, "SILENCE 31 s");
        compare(child("statusText").text, "Off");
        view.deadAirSeconds = 0;
        verify(!child("silenceBadge").visible);

        var selector = child("silenceSelector");
        compare(selector.currentText, "Warn after 30 s of silence");
        compare(selector.count, 5);
        selector.currentIndex = 4;
        selector.activated(4);
        compare(child("streamSettings").silenceSeconds, 0);
        compare(selector.currentText, "No silence warning");
    }

    // The chosen now-playing file shows by name with its path below, a missing
    // one with a hint; Clear stops following it.
    function test_metadataFile_data() {
        var document = String(testEnvironment.documentUrl);
        return [
            { tag: "there", url: document, name: "TavolinEncoder.qml" },
            { tag: "missing", url: document + ".new", name: "TavolinEncoder.qml.new (does not exist yet)" }
        ];
    }

    function test_metadataFile(data) {
        openDocument();
        mouseClick(child("footerSettings"));
        verify(!child("clearMetadataFileButton").visible);
        window.chooseMetadataFile(data.url);
        compare(child("metadataFileName").text, data.name);
        compare(child("metadataFilePath").text, data.url.replace("file://", ""));

        waitForRendering(child("clearMetadataFileButton"));
        mouseClick(child("clearMetadataFileButton"));
        compare(child("playerModel").metadataFile, "");
        compare(child("nowPlayingSettings").metadataFile, "");
        verify(!child("metadataFileName").visible);
    }

    // Off the air the row shows no song and takes no tap. On air against the private servers the
    // pencil shows, the row opens the dialog, and Apply's text reaches the
    // server and comes back as the song. A tap stops the run; until the row
    // shows the end, the dimmed button takes no tap, also once the engine has
    // ended the run and the row has not heard of it yet.
    function test_nowPlaying() {
        openDocument();
        compare([child("statusText").text, child("positionText").text, child("songText").text], ["Off", "--", "--"]);
        verify(String(child("startImage").source).match(/\/images\/play\.svg$/));
        verify(!child("editMark").visible);
        mouseClick(child("nowPlayingArea"));
        wait(50);
        verify(!child("editMetadataDialogLoader").active);

        var server = testEnvironment.server;
        for (var key of ["hostname", "port", "user", "password"])
            child("streamSettings")[key] = server[key];
        child("liveSourceSettings").deviceIndex = server.source;
        mouseClick(child("startImage"));
        tryCompare(child("statusText"), "text", "On Air", 20000);
        verify(String(child("startImage").source).match(/\/images\/pause\.svg$/));
        verify(child("editMark").visible);
        verify(!child("configureStreamButton").enabled);

        mouseClick(child("nowPlayingArea"));
        var dialog = openDialog("editMetadataDialog", "metadataButtons");
        child("artistMetadata").text = "A";
        child("titleMetadata").text = "B";
        mouseClick(child("metadataButtons").standardButton(DialogButtonBox.Apply));
        tryCompare(dialog, "visible", false);
        tryCompare(child("songText"), "text", "A - B", 10000);

        mouseClick(child("startImage"));
        compare(child("startImage").opacity, 0.3);
        verify(testEnvironment.waitForRunEnd(child("playerModel")));
        verify(child("playerView").playing);
        mouseClick(child("startImage"));
        tryCompare(child("statusText"), "text", "Off", 10000);
        compare(child("startImage").opacity, 1);
        verify(!child("editMark").visible);
    }
}
