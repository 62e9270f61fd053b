import QtQuick 2.12
import QtQuick.Controls 2.15
import QtTest 1.2

DocumentTestCase {
    name: "Window"

    function test_initialRow() {
        openDocument();
        compare(window.width, 640);
        compare(window.height, 200);
        compare(child("statusText").text, "Off");
        compare(child("statusText").font.capitalization, Font.AllUppercase);
        compare(child("statusBadge").color, "#514f59");
        verify(String(child("startImage").source).match(/\/images\/play\.svg$/));
        compare(child("startImage").opacity, 1.0);
        compare(child("positionText").text, "--");
        compare(child("positionText").font.pixelSize, 28);
        compare(child("songText").text, "--");
        compare(child("detailsView").state, "HIDDEN");
        verify(child("footerTabs").visible);
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
        var details = child("detailsView");
        // As a drag does: the window system reports the new height later.
        window.height = 260;
        tryCompare(details, "state", "VIEW_STREAMS_WINDOW_RESIZE");
        wait(50);
        compare(window.height, 260);
        compare(details.height, 60);
        verify(child("streamsView").visible);
        compare(child("streamsView").height, 10);
        verify(findChild(child("tabStream"), "underline").visible);

        window.height = 200;
        tryCompare(details, "state", "HIDDEN");
        verify(child("footerTabs").visible);
    }

    // Fully lit segments: those the mask from the top does not reach.
    function test_meterMask_data() {
        return [
            { tag: "0", level: 0, mask: 120, lit: 0 },
            { tag: "50", level: 50, mask: 60, lit: 19 },
            { tag: "90", level: 90, mask: 12, lit: 35 },
            { tag: "100", level: 100, mask: 0, lit: 39 }
        ];
    }

    function test_meterMask(data) {
        openDocument();
        var view = child("playerView");
        view.leftLevel = data.level;
        view.rightLevel = data.level;
        var sides = ["left", "right"];
        for (var s = 0; s < sides.length; ++s) {
            var mask = child(sides[s] + "MeterMask");
            var column = child(sides[s] + "MeterColumn");
            var lit = 0;
            for (var i = 0; i < column.children.length; ++i) {
                var segment = column.children[i];
                if (segment.objectName === "segment" && segment.mapToItem(mask.parent, 0, 0).y >= mask.y + mask.height)
                    ++lit;
            }
            compare(mask.height, data.mask, sides[s]);
            compare(lit, data.lit, sides[s]);
        }
        view.rightLevel = 0;
        compare(child("leftMeterMask").height, data.mask);
    }

    function test_nowPlayingIdle() {
        openDocument();
        verify(!child("editMark").visible);
        mouseClick(child("nowPlayingArea"));
        wait(50);
        verify(!child("editMetadataDialogLoader").active);
    }

    // A file dialog is made by its button on first use, from the settings
    // panel and from within the stream dialog.
    function test_chooseFile_data() {
        return [
            { tag: "metadata file", inStreamDialog: false, button: "chooseMetadataFileButton", dialog: "metadataFileDialog" },
            { tag: "certificate file", inStreamDialog: true, button: "chooseCertificateFileButton", dialog: "certificateFileDialog" }
        ];
    }

    function test_chooseFile(data) {
        openDocument();
        if (data.inStreamDialog)
            openDialog("editStream", "streamButtons");
        var loader = child(data.dialog + "Loader");
        verify(!loader.active);
        // The handler, not the geometry: the button may lie outside the view.
        child(data.button).clicked();
        tryVerify(function () { return loader.item !== null && loader.item.visible; });
        compare(loader.item.objectName, data.dialog);
        loader.item.close();
    }

    // On air against the private servers: the pencil shows, the row opens the
    // dialog, and Apply's text reaches the server and comes back as the song.
    function test_metadataWhileOnAir() {
        openDocument();
        storePrivateServer();
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
