import QtQuick 2.12
import QtQuick.Controls 2.15
import "library.js" as Library

// The Settings tab: the audio source, the now-playing file, the start-up and
// recording choices and the silence warning, each stored as it changes.
ScrollView {
    id: settingsView

    // Named apart from the window's ids: "playerModel: playerModel" there
    // would read this property itself.
    property var player: null
    property var stream: null
    // How many streams there are.
    property int streamCount: 1
    property var liveSource: null
    property var startup: null

    // The file dialogs are the window's.
    signal metadataFileDialogRequested()
    signal metadataFileCleared()
    signal recordFolderDialogRequested()

    ScrollBar.vertical.policy: contentHeight > availableHeight ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
    clip: true
    contentWidth: availableWidth

    Column {
        width: settingsView.availableWidth
        padding: 16
        spacing: 16

        Column {
            spacing: 4

            Label {
                text: "Audio source"
                font.bold: true
                color: "#FFFFFF"
            }

            ComboBox {
                id: liveSourceSelector
                objectName: "liveSourceSelector"
                width: 300
                model: player.liveSources()
                textRole: "deviceName"
                currentIndex: liveSource.currentIndex

                // Set once the stored settings are read; changes before
                // that come from building the box, not from a choice.
                property bool filled: false

                function storeSelectedSource() {
                    liveSource.currentIndex = currentIndex;
                    var source = player.liveSources()[currentIndex];
                    if (source === undefined)
                        return;
                    liveSource.deviceIndex = String(source.index);
                    liveSource.deviceName = source.deviceName;
                }

                onCurrentIndexChanged: {
                    if (filled)
                        storeSelectedSource();
                }

                Component.onCompleted: {
                    liveSource.currentIndex = Library.initialSourceIndex(
                                model, liveSource.deviceIndex, liveSource.currentIndex);
                    filled = true;
                    storeSelectedSource();
                }
            }
        }

        Column {
            spacing: 4

            Label {
                text: "Metadata file"
                font.bold: true
                color: "#FFFFFF"
            }

            Row {
                spacing: 16

                Button {
                    objectName: "chooseMetadataFileButton"
                    text: "Choose..."
                    onClicked: settingsView.metadataFileDialogRequested()
                }

                // The followed file: its name, and its full path below.
                Column {
                    anchors.verticalCenter: parent.verticalCenter
                    visible: player.metadataFile !== ""

                    Text {
                        objectName: "metadataFileName"
                        text: player.metadataFile.replace(/^.*\//, "")
                              + (player.metadataFileExists ? "" : " (does not exist yet)")
                        color: "#FFFFFF"
                    }

                    Text {
                        objectName: "metadataFilePath"
                        width: Math.min(implicitWidth, 360)
                        text: player.metadataFile
                        elide: Text.ElideMiddle
                        font.pixelSize: 11
                        color: "#BBB9C1"
                    }
                }

                Button {
                    objectName: "clearMetadataFileButton"
                    text: "Clear"
                    visible: player.metadataFile !== ""
                    onClicked: settingsView.metadataFileCleared()
                }
            }
        }

        PanelCheckBox {
            objectName: "openOnStartupBox"
            text: qsTr("Open application on system startup")
            checked: startup.openApplicationOnSystemStartup

            onCheckedChanged: {
                if (checked === startup.openApplicationOnSystemStartup)
                    return;
                startup.openApplicationOnSystemStartup = checked;
                player.setAutoStart(checked);
            }
        }

        PanelCheckBox {
            objectName: "startStreamBox"
            text: qsTr("Start stream when opening application")
            checked: startup.startStreamOnAppStart

            onCheckedChanged: startup.startStreamOnAppStart = checked
        }

        PanelCheckBox {
            objectName: "reconnectBox"
            text: qsTr("Reconnect automatically when the connection is lost")
            checked: stream.reconnect

            onCheckedChanged: stream.reconnect = checked
        }

        PanelCheckBox {
            id: recordBox
            objectName: "recordBox"
            text: qsTr("Record each broadcast to a file")
            checked: stream.record

            onCheckedChanged: stream.record = checked
        }

        // The recording is of the first stream's format, also when there are several.
        Text {
            objectName: "recordedStreamText"
            visible: settingsView.streamCount > 1
            leftPadding: recordBox.indicator.width + recordBox.spacing
            text: "Records the first stream: " + Library.describedStream(player, stream).format
            color: "#BBB9C1"
        }

        Column {
            spacing: 4

            Label {
                text: "Recordings folder"
                font.bold: true
                color: "#FFFFFF"
            }

            Row {
                spacing: 16

                Button {
                    objectName: "chooseRecordFolderButton"
                    text: "Choose..."
                    onClicked: settingsView.recordFolderDialogRequested()
                }

                Text {
                    objectName: "recordFolderText"
                    anchors.verticalCenter: parent.verticalCenter
                    text: stream.recordFolder
                    color: "#FFFFFF"
                }
            }
        }

        Column {
            spacing: 4

            Label {
                text: "Silence"
                font.bold: true
                color: "#FFFFFF"
            }

            ComboBox {
                objectName: "silenceSelector"
                width: 300
                readonly property var choices: Library.choicesWith([10, 30, 60, 120, 0],
                                                                  stream.silenceSeconds)
                model: choices.map(function (seconds) {
                    return seconds > 0 ? "Warn after " + seconds + " s of silence" : "No silence warning";
                })
                currentIndex: choices.indexOf(stream.silenceSeconds)
                onActivated: stream.silenceSeconds = choices[index]
            }
        }
    }
}
