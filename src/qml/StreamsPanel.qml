import QtQuick 2.12
import QtQuick.Controls 2.15

// The Stream tab: the stream the window sends and the way to its settings.
ScrollView {
    id: streamsView

    // While it is on the air, its settings cannot change.
    property bool playing: false

    // The window opens the dialog: it holds the stored settings.
    signal configureStream()

    // A panel that holds more than it shows says so.
    ScrollBar.vertical.policy: contentHeight > availableHeight ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded

    Column {
        padding: 16

        Row {
            spacing: 16

            Button {
                objectName: "configureStreamButton"
                text: "Configure stream"
                enabled: !streamsView.playing
                onClicked: streamsView.configureStream()
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
