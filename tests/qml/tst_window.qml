import QtQuick 2.12
import QtQuick.Controls 2.15
import QtTest 1.2

DocumentTestCase {
    name: "Window"

    // Dragging the folded window taller shows the streams under the height
    // dragged to, and folds it back at its least height; late height reports of
    // panels opened quickly are no drags. A panel that holds more than it shows
    // has a scroll bar. On the settings panel
    // the chosen now-playing file shows by name with its path below, a missing
    // one with a hint, and Clear stops following it; the silence choice is
    // stored. Each label opens its panel under its tab, from the footer or the
    // tabs; the cross folds the window back.
    function test_panels() {
        openDocument();
        // As a drag does: the window system reports the new height later.
        window.height = 260;
        tryCompare(child("detailsView"), "state", "VIEW_STREAMS_WINDOW_RESIZE");
        wait(50);
        compare(window.height, 260);
        verify(child("streamsView").visible);
        window.height = 200;
        tryCompare(child("detailsView"), "state", "HIDDEN");

        mouseClick(child("footerSettings"));
        // The settings hold more than the panel shows, the streams panel does not.
        tryCompare(child("settingsView"), "height", 250);
        compare(child("settingsView").ScrollBar.vertical.policy, ScrollBar.AlwaysOn);
        compare(child("streamsView").ScrollBar.vertical.policy, ScrollBar.AsNeeded);
        var document = String(testEnvironment.documentUrl);
        for (var file of [[document, "TavolinEncoder.qml"], [document + ".new", "TavolinEncoder.qml.new (does not exist yet)"]]) {
            window.chooseMetadataFile(file[0]);
            compare(child("metadataFileName").text, file[1]);
            compare(child("metadataFilePath").text, file[0].replace("file://", ""));
        }
        waitForRendering(child("clearMetadataFileButton"));
        mouseClick(child("clearMetadataFileButton"));
        compare(child("playerModel").metadataFile, "");
        compare(child("nowPlayingSettings").metadataFile, "");
        child("silenceSelector").activated(4);
        compare(child("streamSettings").silenceSeconds, 0);
        mouseClick(child("closeDetails"));

        // Faster than the window system reports the heights: the late
        // reports are no drags, and the last panel opens at its height.
        for (var state of ["VIEW_SETTINGS", "HIDDEN", "VIEW_LOG"])
            child("detailsView").state = state;
        wait(200);
        compare([child("detailsView").state, window.height], ["VIEW_LOG", 400]);
        mouseClick(child("closeDetails"));

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

    // Off the air each meter shows its own channel, the amber badge beside the
    // status counts the seconds of dead air, and the row shows no song and takes
    // no tap. On air against the private servers the stream cannot be
    // configured, a listener's visit is shown under the time, the row opens the
    // dialog, and Apply's text reaches the server and comes back as the song. A tap stops the run; until the row shows the
    // end, the dimmed button takes no tap, also once the engine has ended the
    // run and the row has not heard of it yet.
    function test_nowPlaying() {
        openDocument();
        var view = child("playerView");
        view.leftLevel = 90;
        compare([child("leftMeterMask").height, child("rightMeterMask").height], [12, 120]);
        verify(!child("silenceBadge").visible);
        view.deadAirSeconds = 31;
        verify(child("silenceBadge").visible);
        compare(child("silenceText").text, "SILENCE 31 s");
        compare([child("statusText").text, child("positionText").text, child("songText").text], ["Off", "--", "--"]);
        mouseClick(child("nowPlayingArea"));
        wait(50);
        verify(!child("editMetadataDialogLoader").active);

        var server = testEnvironment.server;
        for (var key of ["hostname", "port", "user", "password"])
            child("streamSettings")[key] = server[key];
        child("liveSourceSettings").deviceIndex = server.source;
        mouseClick(child("startImage"));
        tryCompare(child("statusText"), "text", "On Air", 20000);
        verify(!child("configureStreamButton").enabled);
        // A listener's visit, 5 s after, under the time.
        tryVerify(function () { return /^Heard by a listener \d\d:\d\d$/.test(child("listenerCheckText").text); }, 20000);

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
        verify(view.playing);
        mouseClick(child("startImage"));
        tryCompare(child("statusText"), "text", "Off", 10000);
        compare(child("startImage").opacity, 1);
    }
}
