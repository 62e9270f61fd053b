import QtQuick 2.12
import QtQuick.Controls 2.15
import "library.js" as Library

// The Stream tab: a row for each stream the window sends, with its format and,
// while a run goes, its state; and the ways to its settings.
ScrollView {
    id: streamsView

    // The stored settings objects of the streams, the first one first.
    property var streams: []
    // What the run shows of each of its streams, and the settings objects
    // that started them, in the run's order.
    property var runStreams: []
    property var runSettings: []
    // Names a stream and its format as the engine does.
    property var player: null
    // While it is on the air, no stream's settings can change.
    property bool playing: false
    // Nor while the dialog edits one: its Save must land on the stream it shows.
    property bool editing: false
    readonly property bool changeable: !playing && !editing
    readonly property int mostStreams: 8

    // The window opens the dialog, and adds and removes the stored groups.
    signal editStream(var target)
    signal addStream()
    signal removeStream(int index)

    // A panel that holds more than it shows says so.
    ScrollBar.vertical.policy: contentHeight > availableHeight ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
    clip: true
    contentWidth: availableWidth

    Column {
        width: streamsView.availableWidth
        padding: 16
        spacing: 8

        Repeater {
            objectName: "streamRows"
            model: streamsView.streams

            Row {
                objectName: "streamRow" + index
                spacing: 16
                readonly property var described: Library.describedStream(streamsView.player, modelData)
                readonly property var run: Library.runStateOf(modelData, streamsView.runSettings, streamsView.runStreams)

                PanelCheckBox {
                    objectName: "streamOnBox"
                    anchors.verticalCenter: parent.verticalCenter
                    text: "On"
                    // The first stream is always on.
                    checked: index === 0 || modelData.enabled
                    enabled: index > 0 && streamsView.changeable
                    onToggled: modelData.enabled = checked
                }

                Column {
                    width: 300
                    anchors.verticalCenter: parent.verticalCenter

                    Text {
                        objectName: "streamLabel"
                        width: parent.width
                        text: described.label
                        elide: Text.ElideRight
                        font.bold: true
                        color: "#FFFFFF"
                    }

                    // The log has the whole of a long error.
                    Text {
                        objectName: "streamFormat"
                        width: parent.width
                        elide: Text.ElideRight
                        text: [described.format, run.state || "", Library.listenersText(run.listeners)]
                              .filter(function (part) { return part !== ""; }).join("  \u00b7  ")
                        color: run.status === 3 ? "#FF6B5B" : "#BBB9C1"
                    }

                    // What a listener's visit found, in amber when something is wrong.
                    Text {
                        objectName: "streamHeard"
                        width: parent.width
                        elide: Text.ElideRight
                        visible: text !== ""
                        text: run.heard || ""
                        color: run.heardWell === false ? "#FFB000" : "#BBB9C1"
                    }
                }

                Button {
                    objectName: index === 0 ? "configureStreamButton" : "editStreamButton"
                    text: "Edit"
                    enabled: streamsView.changeable
                    onClicked: streamsView.editStream(modelData)
                }

                Button {
                    objectName: "removeStreamButton"
                    text: "Remove"
                    visible: index > 0
                    enabled: streamsView.changeable
                    onClicked: streamsView.removeStream(index)
                }
            }
        }

        Row {
            spacing: 16

            Button {
                objectName: "addStreamButton"
                text: "Add stream"
                enabled: streamsView.changeable && streamsView.streams.length < streamsView.mostStreams
                onClicked: streamsView.addStream()
            }

            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "You'll need to stop this stream before you can configure it."
                color: "#FFFFFF"
                visible: streamsView.playing
            }
        }
    }
}
