import QtQuick 2.12
import QtQuick.Controls 2.15
import QtTest 1.2

DocumentTestCase {
    name: "Window"

    function test_initialRow() {
        openDocument();
        compare(window.height, 200);
        compare(child("statusText").text, "Off");
        compare(child("statusText").font.capitalization, Font.AllUppercase);
        compare(child("statusBadge").color, "#514f59");
        verify(String(child("startImage").source).match(/\/images\/play\.svg$/));
        compare(child("positionText").text, "--");
        compare(child("songText").text, "--");
    }

    // Each step taps a label and expects a window height and an underlined tab.
    function test_panelHeights_data() {
        return [
            { tag: "log, settings, cross", steps: [["footerLog", 400, "Log"], ["tabSettings", 500, "Settings"],
                                                   ["closeDetails", 200, ""]] },
            { tag: "stream, log, stream", steps: [["footerStream", 324, "Stream"], ["tabLog", 400, "Log"],
                                                  ["tabStream", 324, "Stream"], ["closeDetails", 200, ""]] },
            { tag: "settings from footer", steps: [["footerSettings", 500, "Settings"], ["closeDetails", 200, ""]] }
        ];
    }

    function test_panelHeights(data) {
        openDocument();
        var tabs = ["Stream", "Log", "Settings"];
        for (var i = 0; i < data.steps.length; ++i) {
            var step = data.steps[i];
            mouseClick(child(step[0]));
            compare(window.height, step[1], step[0]);
            compare(child("footerTabs").visible, step[2] === "", step[0]);
            for (var t = 0; t < tabs.length; ++t)
                compare(findChild(child("tab" + tabs[t]), "underline").visible, tabs[t] === step[2], step[0] + " " + tabs[t]);
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

    function test_meterMask_data() {
        return [
            { tag: "0", level: 0, mask: 120 },
            { tag: "50", level: 50, mask: 60 },
            { tag: "90", level: 90, mask: 12 },
            { tag: "100", level: 100, mask: 0 }
        ];
    }

    function test_meterMask(data) {
        openDocument();
        child("playerView").leftLevel = data.level;
        compare(child("leftMeterMask").height, data.mask);
        compare(child("rightMeterMask").height, 120);
        child("playerView").rightLevel = data.level;
        compare(child("rightMeterMask").height, data.mask);
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

    // Off the air the row takes no tap. On air against the private servers the
    // pencil shows, the row opens the dialog, and Apply's text reaches the
    // server and comes back as the song.
    function test_nowPlaying() {
        openDocument();
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
        compare(child("statusBadge").color, "#ffffff");
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
        tryCompare(child("statusText"), "text", "Off", 10000);
        verify(!child("editMark").visible);
    }
}
