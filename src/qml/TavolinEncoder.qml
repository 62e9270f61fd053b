import QtQuick 2.12
import QtQuick.Window 2.12
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import com.tavolin 1.0
import "library.js" as Library

Window {
    id: root_window
    objectName: "root_window"
    width: 640
    minimumWidth: 640
    maximumWidth: 640
    height: 200
    minimumHeight: 200
    color: "#020104"
    title: qsTr("Tavolin Encoder")
    visible: true

    onClosing: {
        // A stream added and not saved is not kept, also when the program ends.
        if (editStreamLoader.item && editStreamLoader.item.visible)
            editStreamLoader.item.reject();
        playerModel.shutdown();
    }

    PlayerModel {
        id: playerModel
        objectName: "playerModel"
    }

    LogsModel {
        id: logsModel
        objectName: "logsModel"
    }

    Component {
        id: playerDelegate

        Item {
            id: playerView
            objectName: "playerView"
            width: ListView.view.width
            height: ListView.view.height

            // Each role is read once, here. A row notification names no roles, so
            // it re-runs every binding that reads one, several times per audio
            // frame; the rest of the view binds to these plain properties, which
            // signal only when a value really changes. The tests set the levels
            // to show a meter without an engine producing it.
            property string currentSong: song
            property string currentPosition: position
            property string currentStatus: status
            property int leftLevel: leftVolume
            property int rightLevel: rightVolume
            property bool playing: isPlaying
            property bool failed: isError
            property bool changing: isChanging
            property var runStreams: streams
            property string streamsOnAirText: streamsOnAir
            // From a tap that stops the run until the row shows it ended: the
            // engine may end the run before the row says so, and a tap in
            // between would start a new one.
            property bool stopping: false
            onPlayingChanged: if (!playing) stopping = false
            // A run that waits to reconnect is changing but still playing,
            // and a tap stops it.
            readonly property bool busy: stopping || changing && !playing

            // The settings objects of the streams of the run started last, in its order.
            property var runSettings: []

            function tap() {
                var furtherStreams = root_window.furtherStreams();
                if (!Library.startPlayer(playerModel, streamSettings, liveSourceSettings, busy, furtherStreams))
                    return;
                stopping = playing;
                if (!playing)
                    runSettings = Library.runSettingsOf(streamSettings, furtherStreams);
            }

            // With "Start stream when opening application" stored as ticked.
            Component.onCompleted: {
                if (startupSettings.startStreamOnAppStart)
                    Library.setTimeout(tap, 500, root_window);
            }

            // The commands of scripts, by the play button's rules: empty, or
            // why the start is refused.
            function startFromCommand() {
                if (playing || busy)
                    return "";
                if (liveSourceSettings.deviceIndex === "")
                    return "No capture device is chosen";
                tap();
                return "";
            }

            function stopFromCommand() {
                if (playing && !busy)
                    tap();
            }

            // Beside the row: seconds of dead air while the engine warns of it.
            property int deadAirSeconds: playerModel.deadAirSeconds

            readonly property bool deadAir: deadAirSeconds > 0
            // The taskbar flashes as the warning starts, until the window is active.
            onDeadAirChanged: {
                if (deadAir)
                    root_window.alert(0);
            }

            readonly property var tabs: [
                { "label": "Stream", "state": "VIEW_STREAMS" },
                { "label": "Log", "state": "VIEW_LOG" },
                { "label": "Settings", "state": "VIEW_SETTINGS" }
            ]

            StoredSettings {
                id: liveSourceSettings
                objectName: "liveSourceSettings"
                property int currentIndex: StoredDefaults.liveSource.currentIndex
                property string deviceIndex: StoredDefaults.liveSource.deviceIndex
                property string deviceName: StoredDefaults.liveSource.deviceName
            }

            StoredSettings {
                id: startupSettings
                objectName: "startupSettings"
                property bool openApplicationOnSystemStartup: StoredDefaults.startup.openApplicationOnSystemStartup
                property bool startStreamOnAppStart: StoredDefaults.startup.startStreamOnAppStart
            }

            Row {
                id: controlView
                z: 1
                height: 150

                Rectangle {
                    id: meterView
                    width: 50
                    height: 150
                    color: "#33303B"

                    Item {
                        id: meterArea
                        width: parent.width
                        height: 120
                        anchors.verticalCenter: parent.verticalCenter

                        Rectangle {
                            x: 16
                            width: 18
                            height: 120
                            radius: 3
                            color: "#020104"

                            Repeater {
                                model: 2

                                Column {
                                    objectName: index === 0 ? "leftMeterColumn" : "rightMeterColumn"
                                    x: index * 9
                                    width: 9
                                    padding: 2
                                    spacing: 1

                                    Repeater {
                                        model: 39

                                        Rectangle {
                                            objectName: "segment"
                                            width: 5
                                            height: 2
                                            color: index < 5 ? "#FF0000" : index < 15 ? "#FFFF00" : "#00FF00"
                                        }
                                    }
                                }
                            }
                        }

                        Rectangle {
                            objectName: "leftMeterMask"
                            x: 16
                            width: 9
                            height: 120 * (1 - playerView.leftLevel / 100)
                            radius: 3
                            color: "#000000"
                        }

                        Rectangle {
                            objectName: "rightMeterMask"
                            x: 25
                            width: 9
                            height: 120 * (1 - playerView.rightLevel / 100)
                            radius: 3
                            color: "#000000"
                        }
                    }
                }

                Rectangle {
                    id: startButton
                    width: 100
                    height: 150
                    color: "#33303B"

                    Image {
                        objectName: "startImage"
                        x: 16
                        width: 44
                        height: 44
                        anchors.verticalCenter: parent.verticalCenter
                        source: playerView.playing ? "../images/pause.svg" : "../images/play.svg"
                        sourceSize: Qt.size(44, 44)
                        opacity: playerView.busy ? 0.3 : 1.0

                        MouseArea {
                            anchors.fill: parent
                            onClicked: playerView.tap()
                        }
                    }
                }

                Rectangle {
                    id: timerView
                    width: 250
                    height: 150
                    color: "#33303B"

                    Column {
                        y: 16
                        spacing: 16

                        Row {
                            spacing: 8

                            Rectangle {
                                objectName: "statusBadge"
                                width: statusText.width + 16
                                height: 25
                                radius: 3
                                color: playerView.playing ? "#FFFFFF" : "#514F59"

                                Text {
                                    id: statusText
                                    objectName: "statusText"
                                    x: 8
                                    anchors.verticalCenter: parent.verticalCenter
                                    text: playerView.currentStatus
                                    font.capitalization: Font.AllUppercase
                                    font.bold: true
                                    font.pixelSize: 14
                                    color: playerView.playing ? "#DD2222" : "#FFFFFF"
                                }
                            }

                            Rectangle {
                                objectName: "silenceBadge"
                                width: silenceText.width + 16
                                height: 25
                                radius: 3
                                color: "#FFB000"
                                visible: playerView.deadAir

                                Text {
                                    id: silenceText
                                    objectName: "silenceText"
                                    x: 8
                                    anchors.verticalCenter: parent.verticalCenter
                                    text: "SILENCE " + playerView.deadAirSeconds + " s"
                                    font.bold: true
                                    font.pixelSize: 14
                                    color: "#020104"
                                }
                            }
                        }

                        Text {
                            objectName: "positionText"
                            text: playerView.currentPosition
                            color: "#FFFFFF"
                            wrapMode: Text.WordWrap
                            font.pixelSize: playerView.failed ? 12 : playerView.changing ? 15 : 28
                            width: playerView.failed || playerView.changing ? 200 : 150
                        }

                        // Under the time, while not every stream is on the air.
                        Text {
                            objectName: "streamsOnAirText"
                            text: playerView.streamsOnAirText
                            visible: text !== ""
                            color: "#FFB000"
                            font.pixelSize: 12
                        }

                        // With one stream, what a listener's visit found, there too;
                        // several show it in their rows.
                        Text {
                            objectName: "listenerCheckText"
                            readonly property var stream: playerView.runStreams.length === 1 ? playerView.runStreams[0] : {}
                            text: stream.heard || ""
                            visible: text !== ""
                            color: stream.heardWell === false ? "#FFB000" : "#BBB9C1"
                            font.pixelSize: 12
                            width: 230
                            elide: Text.ElideRight
                        }
                    }

                    // The stream goes on; the broadcaster must still learn that
                    // the show is no longer kept. The log has the whole line.
                    Text {
                        objectName: "recordingProblemText"
                        anchors.bottom: parent.bottom
                        anchors.bottomMargin: 6
                        width: parent.width - 10
                        visible: text !== ""
                        text: playerModel.recordingProblem
                        color: "#FFB000"
                        elide: Text.ElideRight
                        font.pixelSize: 12
                    }
                }

                Rectangle {
                    id: metadataView
                    width: 250
                    height: 150
                    color: "#33303B"

                    Column {
                        y: 20
                        width: parent.width
                        spacing: 16

                        Text {
                            text: "Now playing"
                            font.capitalization: Font.AllUppercase
                            font.bold: true
                            font.pixelSize: 14
                            color: "#BBB9C1"
                        }

                        Item {
                            width: nowPlayingRow.width
                            height: nowPlayingRow.height

                            Row {
                                id: nowPlayingRow

                                Text {
                                    id: songText
                                    objectName: "songText"
                                    width: metadataView.width - 48
                                    text: playerView.currentSong
                                    font.pixelSize: 20
                                    color: "#FFFFFF"
                                    wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                                    maximumLineCount: 3
                                    elide: Text.ElideRight
                                }

                                Item {
                                    objectName: "editMark"
                                    width: 24
                                    height: songText.height
                                    visible: playerView.playing

                                    Image {
                                        anchors.centerIn: parent
                                        width: 24
                                        height: 24
                                        source: "../images/pencil.svg"
                                        sourceSize: Qt.size(24, 24)
                                    }
                                }
                            }

                            MouseArea {
                                objectName: "nowPlayingArea"
                                anchors.fill: parent
                                enabled: playerView.playing
                                onClicked: root_window.openDialog(editMetadataDialogLoader)
                            }
                        }
                    }
                }
            }

            Rectangle {
                id: detailsView
                objectName: "detailsView"
                anchors.top: controlView.bottom
                width: parent.width
                height: playerView.height > 200 ? playerView.height - 200 : 0
                color: "#1A1820"
                visible: state !== "HIDDEN"
                state: "HIDDEN"

                readonly property string activeTab: state === "VIEW_LOG" ? "Log"
                                                   : state === "VIEW_SETTINGS" ? "Settings"
                                                   : state === "HIDDEN" ? "" : "Stream"

                states: [
                    State { name: "HIDDEN" },
                    State { name: "VIEW_STREAMS" },
                    State { name: "VIEW_STREAMS_WINDOW_RESIZE" },
                    State { name: "VIEW_LOG" },
                    State { name: "VIEW_SETTINGS" }
                ]

                // The window's height in each state but the one a drag opened,
                // which keeps the height dragged to. Leaving a state keeps the
                // height that the user or the state chose.
                // The streams panel shows every stream's row, up to the height of a small screen.
                readonly property var stateHeights: ({ "HIDDEN": 200,
                                                       "VIEW_STREAMS": Math.min(600, 326 + 64 * root_window.streamObjects.length),
                                                       "VIEW_LOG": 400,
                                                       "VIEW_SETTINGS": 500 })
                // Heights asked of the window system and not reported back yet.
                // The reports come later, in order, and reach the view's height
                // one by one; none of them is a drag, and one of an earlier
                // request than the last asks for the last again.
                property var requestedHeights: []

                onStateChanged: showStateHeight()
                // A stream added or removed while the streams show: their panel fits again.
                onStateHeightsChanged: if (state === "VIEW_STREAMS") showStateHeight()

                function showStateHeight() {
                    var windowHeight = stateHeights[state];
                    // The window reports no height that it has already.
                    if (windowHeight === undefined
                            || (windowHeight === root_window.height && requestedHeights.length === 0))
                        return;
                    requestedHeights.push(windowHeight);
                    root_window.height = windowHeight;
                }

                onHeightChanged: {
                    var reported = requestedHeights.indexOf(playerView.height);
                    if (reported >= 0) {
                        var latest = requestedHeights[requestedHeights.length - 1];
                        requestedHeights = requestedHeights.slice(reported + 1);
                        if (playerView.height !== latest)
                            root_window.height = latest;
                        return;
                    }
                    if (height > 0 && state === "HIDDEN")
                        state = "VIEW_STREAMS_WINDOW_RESIZE";
                    else if (height === 0 && state !== "HIDDEN")
                        state = "HIDDEN";
                }

                Rectangle {
                    width: parent.width
                    height: 1
                    color: "#514F59"
                }

                Rectangle {
                    id: tabBarView
                    objectName: "tabBarView"
                    y: 1
                    z: 1
                    width: parent.width
                    height: 49
                    color: "#33303B"

                    Row {
                        height: parent.height
                        leftPadding: 16
                        spacing: 16

                        Repeater {
                            model: playerView.tabs

                            Text {
                                objectName: "tab" + modelData.label
                                height: tabBarView.height
                                verticalAlignment: Text.AlignVCenter
                                text: modelData.label
                                font.bold: true
                                font.pixelSize: 16
                                color: "#FFFFFF"

                                Rectangle {
                                    objectName: "underline"
                                    anchors.bottom: parent.bottom
                                    width: parent.width
                                    height: 2
                                    color: "#FFFFFF"
                                    visible: detailsView.activeTab === modelData.label
                                }

                                MouseArea {
                                    anchors.fill: parent
                                    onClicked: detailsView.state = modelData.state
                                }
                            }
                        }
                    }

                    Item {
                        objectName: "closeDetails"
                        anchors.right: parent.right
                        width: 48
                        height: parent.height

                        Image {
                            anchors.centerIn: parent
                            width: 24
                            height: 24
                            source: "../images/cross.svg"
                            sourceSize: Qt.size(24, 24)
                        }

                        MouseArea {
                            anchors.fill: parent
                            onClicked: detailsView.state = "HIDDEN"
                        }
                    }
                }

                StreamsPanel {
                    id: streamsView
                    objectName: "streamsView"
                    y: 50
                    width: parent.width
                    height: Math.max(0, parent.height - 50)
                    visible: detailsView.activeTab === "Stream"
                    streams: root_window.streamObjects
                    runStreams: playerView.runStreams
                    runSettings: playerView.runSettings
                    player: playerModel
                    playing: playerView.playing
                    editing: editStreamLoader.item !== null && editStreamLoader.item.visible
                    onEditStream: root_window.editStream(target, false)
                    onAddStream: root_window.addStream()
                    onRemoveStream: removeStreamDialog.ask(index)
                }

                ScrollView {
                    id: logView
                    objectName: "logView"
                    y: 50
                    width: parent.width
                    height: Math.max(0, parent.height - 50)
                    ScrollBar.vertical.policy: contentHeight > availableHeight ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
                    visible: detailsView.activeTab === "Log"
                    clip: true
                    contentWidth: availableWidth

                    Column {
                        id: logColumn
                        width: logView.availableWidth
                        padding: 16

                        Repeater {
                            model: logsModel

                            TextArea {
                                width: logColumn.width - logColumn.leftPadding - logColumn.rightPadding
                                readOnly: true
                                wrapMode: TextEdit.Wrap
                                selectByMouse: true
                                color: "#FFFFFF"
                                text: model.display
                            }
                        }
                    }
                }

                SettingsPanel {
                    id: settingsView
                    objectName: "settingsView"
                    y: 50
                    width: parent.width
                    height: Math.max(0, parent.height - 50)
                    visible: detailsView.activeTab === "Settings"
                    player: playerModel
                    stream: streamSettings
                    streamCount: root_window.streamObjects.length
                    liveSource: liveSourceSettings
                    startup: startupSettings
                    onMetadataFileDialogRequested: root_window.openDialog(metadataFileDialogLoader)
                    onMetadataFileCleared: root_window.chooseMetadataFile("")
                    onRecordFolderDialogRequested: root_window.openDialog(recordFolderDialogLoader)
                }
            }

            Rectangle {
                anchors.bottom: footerView.top
                width: parent.width
                height: 1
                color: "#514F59"
            }

            Rectangle {
                id: footerView
                objectName: "footerView"
                anchors.bottom: parent.bottom
                width: parent.width
                height: 49
                color: "#33303B"

                Row {
                    objectName: "footerTabs"
                    height: parent.height
                    leftPadding: 16
                    spacing: 16
                    visible: detailsView.state === "HIDDEN"

                    Repeater {
                        model: playerView.tabs

                        Text {
                            objectName: "footer" + modelData.label
                            height: footerView.height
                            verticalAlignment: Text.AlignVCenter
                            text: modelData.label
                            font.bold: true
                            font.pixelSize: 16
                            color: "#FFFFFF"

                            MouseArea {
                                anchors.fill: parent
                                onClicked: detailsView.state = modelData.state
                            }
                        }
                    }
                }

                Image {
                    anchors.right: parent.right
                    anchors.rightMargin: 16
                    anchors.verticalCenter: parent.verticalCenter
                    width: 80
                    fillMode: Image.PreserveAspectFit
                    source: "../images/Logo - horizontal - white.png"
                }
            }
        }
    }

    StreamSettings {
        id: streamSettings
        objectName: "streamSettings"
        // Here rather than with the start-up choices: the engine gets them in
        // the first stream's settings, for the whole run.
        property bool reconnect: StoredDefaults.run.reconnect
        property bool record: StoredDefaults.run.record
        property string recordFolder: StoredDefaults.run.recordFolder
        // Seconds of silence on the input before the window warns; 0: never.
        property int silenceSeconds: StoredDefaults.run.silenceSeconds
    }

    // The stored settings of every stream, the first one first; each one
    // after it in its group of the store, "stream2" on.
    property var streamObjects: [streamSettings]

    Component {
        id: furtherStreamComponent
        StreamSettings {
            // A stream that is off keeps its settings and is not started.
            property bool enabled: StoredDefaults.furtherStream.enabled
        }
    }

    function furtherStream(number) {
        return furtherStreamComponent.createObject(root_window, { "group": "stream" + number });
    }

    // The further streams' objects made anew from the store. Without any
    // the list stays as it is: a new one would make the streams' rows anew.
    function loadFurtherStreams() {
        var count = streamSettings.groupCount("stream", 2);
        if (count === 0 && streamObjects.length === 1)
            return;
        for (var i = 1; i < streamObjects.length; ++i)
            streamObjects[i].destroy();
        var objects = [streamSettings];
        for (var number = 2; number < count + 2; ++number)
            objects.push(furtherStream(number));
        streamObjects = objects;
    }

    function furtherStreams() {
        return streamObjects.slice(1);
    }

    // A new stream has the first one's name, description, genre and URL, and
    // the defaults for the rest; it is kept only when its dialog is saved.
    function addStream() {
        var added = furtherStream(streamObjects.length + 1);
        for (var key of ["name", "description", "genre", "url"])
            added[key] = streamSettings[key];
        streamObjects = streamObjects.concat([added]);
        editStream(added, true);
    }

    // The groups after the removed one move down: their objects are made anew.
    function removeStream(index) {
        if (editStreamLoader.item)
            editStreamLoader.item.target = streamSettings;
        streamSettings.removeGroup("stream", index + 1);
        loadFurtherStreams();
    }

    function editStream(target, adding) {
        editStreamLoader.active = true;
        editStreamLoader.item.target = target;
        editStreamLoader.item.adding = adding;
        editStreamLoader.item.open();
    }

    // The now-playing file is stored, so that a station that starts by itself
    // follows it again; its title goes out once the stream is on the air.
    StoredSettings {
        id: nowPlayingSettings
        objectName: "nowPlayingSettings"
        property string metadataFile: StoredDefaults.nowPlaying.metadataFile
    }

    Component.onCompleted: {
        loadFurtherStreams();
        if (nowPlayingSettings.metadataFile !== "")
            playerModel.followMetadataFile(nowPlayingSettings.metadataFile);
    }

    // A file dialog's URL, or empty to follow no file.
    function chooseMetadataFile(url) {
        playerModel.setMetadataFile(url);
        nowPlayingSettings.metadataFile = playerModel.metadataFile;
    }

    // The dialogs are made when first opened: a window that only streams
    // never holds their objects.
    function openDialog(loader) {
        loader.active = true;
        loader.item.open();
    }

    Loader {
        id: editStreamLoader
        objectName: "editStreamLoader"
        active: false
        sourceComponent: Component {
            StreamDialog {
                objectName: "editStream"
                target: streamSettings
                // A stream added and not saved is not kept.
                property bool adding: false
                onAccepted: adding = false
                onRejected: {
                    if (adding)
                        root_window.removeStream(root_window.streamObjects.length - 1);
                    adding = false;
                }
            }
        }
    }

    // Removing a stream asks first.
    MessageDialog {
        id: removeStreamDialog
        objectName: "removeStreamDialog"
        title: "Remove stream"
        icon: StandardIcon.Question
        standardButtons: StandardButton.Yes | StandardButton.No
        property int index: 0

        function ask(streamIndex) {
            index = streamIndex;
            text = "Remove the stream " + Library.describedStream(playerModel, streamObjects[streamIndex]).label
                   + " and its settings?";
            open();
        }

        onYes: root_window.removeStream(index)
    }

    Loader {
        id: editMetadataDialogLoader
        objectName: "editMetadataDialogLoader"
        active: false
        sourceComponent: Component {
            Dialog {
                id: editMetadataDialog
                objectName: "editMetadataDialog"
                title: "Update metadata"
                modality: Qt.NonModal
                width: 400
                height: 250

                contentItem: Rectangle {
                    implicitWidth: 400
                    implicitHeight: 250
                    color: "#F8F7FA"

                    Column {
                        width: parent.width
                        padding: 16
                        bottomPadding: 24
                        spacing: 16

                        Column {
                            spacing: 4
                            Label { text: "Title"; font.bold: true; color: "#020104" }
                            TextField {
                                id: titleMetadata
                                objectName: "titleMetadata"
                                width: editMetadataDialog.width - 32
                                placeholderText: ""
                                selectByMouse: true
                            }
                        }

                        Column {
                            spacing: 4
                            Label { text: "Artist"; font.bold: true; color: "#020104" }
                            TextField {
                                id: artistMetadata
                                objectName: "artistMetadata"
                                width: editMetadataDialog.width - 32
                                placeholderText: ""
                                selectByMouse: true
                            }
                        }
                    }

                    DialogButtonBox {
                        objectName: "metadataButtons"
                        anchors.left: parent.left
                        anchors.right: parent.right
                        anchors.bottom: parent.bottom
                        standardButtons: DialogButtonBox.Apply | DialogButtonBox.Cancel

                        onApplied: {
                            playerModel.metadataUpdate(artistMetadata.text + " - " + titleMetadata.text);
                            editMetadataDialog.accept();
                        }
                        onRejected: editMetadataDialog.reject()
                    }
                }
            }
        }
    }

    Loader {
        id: metadataFileDialogLoader
        objectName: "metadataFileDialogLoader"
        active: false
        sourceComponent: Component {
            FileDialog {
                id: metadataFileDialog
                objectName: "metadataFileDialog"
                title: "Please choose a file"
                folder: shortcuts.home
                selectMultiple: false
                selectFolder: false
                selectExisting: true

                onAccepted: root_window.chooseMetadataFile(fileUrls[0].toString())
            }
        }
    }

    Loader {
        id: recordFolderDialogLoader
        objectName: "recordFolderDialogLoader"
        active: false
        sourceComponent: Component {
            FileDialog {
                objectName: "recordFolderDialog"
                title: "Please choose a folder for the recordings"
                folder: shortcuts.music
                selectFolder: true

                onAccepted: streamSettings.recordFolder = Library.localPath(fileUrl)
            }
        }
    }

    // The commands of scripts (tavolin-encoder --start, --stop): as taps on
    // the play button.
    function startFromCommand() {
        return playerList.itemAtIndex(0).startFromCommand();
    }

    function stopFromCommand() {
        playerList.itemAtIndex(0).stopFromCommand();
    }

    ListView {
        id: playerList
        anchors.fill: parent
        // One row, as large as the window: nothing to scroll.
        interactive: false
        model: playerModel
        delegate: playerDelegate
    }
}
