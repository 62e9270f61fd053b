import QtQuick 2.12
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import "library.js" as Library

// "Configure stream": edits a stream's stored settings, which change only on Save.
Dialog {
    id: editStream
    title: "Configure stream"
    modality: Qt.NonModal
    width: 800
    // Save and Cancel stay on a 768 px high screen; the form scrolls above them.
    height: 680

    // The stored settings object that it shows and saves to.
    property var target: null

    // Every opening shows the stored values: a close other than
    // Save (Cancel, Escape, the window's close button) drops the edits.
    onVisibleChanged: if (visible) reset()

    function reset() {
        streamSettingsName.text = target.name;
        streamSettingsDescription.text = target.description;
        streamSettingsGenre.text = target.genre;
        streamSettingsUrl.text = target.url;
        streamSettingsHostname.text = target.hostname;
        streamSettingsPort.text = target.port.toString(10);
        streamSettingsMount.text = target.mount;
        streamSettingsUser.text = target.user;
        streamSettingsPassword.text = target.password;
        streamSettingsCertificateFile.text = target.certificateFile;
        streamSettingsListenerUrl.text = target.listenerUrl;
        streamSettingsListenerCheck.checked = target.listenerCheck;
        streamSettingsEncoder.currentIndex = target.encoderIndex;
        streamSettingsProtocol.currentIndex = target.protocolIndex;
        streamSettingsBitrate.currentIndex = streamSettingsBitrate.model.indexOf(target.bitrate);
        streamSettingsSamplerate.currentIndex = streamSettingsSamplerate.model.indexOf(
                    String(target.samplerate));
        streamSettingsInStreamTitles.checked = target.inStreamTitles;
    }

    function save() {
        target.name = streamSettingsName.text.trim();
        target.description = streamSettingsDescription.text.trim();
        target.genre = streamSettingsGenre.text.trim();
        target.url = streamSettingsUrl.text.trim();
        target.hostname = streamSettingsHostname.text.trim();
        // An empty field, or a number that is no port, keeps the stored port.
        if (streamSettingsPort.acceptableInput)
            target.port = parseInt(streamSettingsPort.text, 10);
        var mount = streamSettingsMount.text.trim();
        target.mount = mount.charAt(0) === "/" ? mount.substring(1) : mount;
        target.user = streamSettingsUser.text.trim();
        target.password = streamSettingsPassword.text.trim();
        target.certificateFile = streamSettingsCertificateFile.text.trim();
        target.listenerUrl = streamSettingsListenerUrl.text.trim();
        target.listenerCheck = streamSettingsListenerCheck.checked;
        target.encoder = streamSettingsEncoder.currentText.trim();
        target.encoderIndex = streamSettingsEncoder.currentIndex;
        target.protocol = streamSettingsProtocol.currentText.trim();
        target.protocolIndex = streamSettingsProtocol.currentIndex;
        // A rate the codec does not take stays stored for the next codec that does.
        if (streamSettingsBitrate.enabled)
            Library.storeChoice(target, "bitrate", "bitrateIndex",
                                streamSettingsBitrate.currentText.trim(), streamSettingsBitrate.choices);
        if (streamSettingsSamplerate.enabled)
            Library.storeChoice(target, "samplerate", "samplerateIndex",
                                parseInt(streamSettingsSamplerate.currentText, 10),
                                streamSettingsSamplerate.choices.map(Number));
        target.inStreamTitles = streamSettingsInStreamTitles.checked;
        reset();
        accept();
    }

    contentItem: Rectangle {
        implicitWidth: 800
        implicitHeight: 680
        color: "#F8F7FA"

        ScrollView {
            id: streamForm
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: streamButtons.top
            clip: true
            contentWidth: availableWidth
            ScrollBar.vertical.policy: contentHeight > availableHeight ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded

            Column {
                width: streamForm.availableWidth

                Column {
                    width: parent.width
                    padding: 16
                    bottomPadding: 24
                    spacing: 16

                    Text {
                        text: "Stream details"
                        font.pixelSize: 18
                        color: "#020104"
                    }

                    Column {
                        spacing: 4
                        Label { text: "Name"; font.bold: true; color: "#020104" }
                        TextField {
                            id: streamSettingsName
                            objectName: "streamSettingsName"
                            width: 400
                            placeholderText: ""
                            selectByMouse: true
                            text: target.name
                        }
                    }

                    Column {
                        spacing: 4
                        Label { text: "Description"; font.bold: true; color: "#020104" }
                        TextField {
                            id: streamSettingsDescription
                            objectName: "streamSettingsDescription"
                            width: 400
                            placeholderText: ""
                            selectByMouse: true
                            text: target.description
                        }
                    }

                    Column {
                        spacing: 4
                        Label { text: "Genre"; font.bold: true; color: "#020104" }
                        TextField {
                            id: streamSettingsGenre
                            objectName: "streamSettingsGenre"
                            width: 400
                            placeholderText: ""
                            selectByMouse: true
                            text: target.genre
                        }
                    }

                    Column {
                        spacing: 4
                        Label { text: "URL"; font.bold: true; color: "#020104" }
                        TextField {
                            id: streamSettingsUrl
                            objectName: "streamSettingsUrl"
                            width: 400
                            placeholderText: ""
                            selectByMouse: true
                            text: target.url
                        }
                    }
                }

                Rectangle {
                    width: parent.width
                    height: 1
                    color: "#E6E4E9"
                }

                Column {
                    width: parent.width
                    padding: 16
                    bottomPadding: 24
                    spacing: 16

                    Text {
                        text: "Server details"
                        font.pixelSize: 18
                        color: "#020104"
                    }

                    Row {
                        spacing: 16

                        Column {
                            spacing: 4
                            Label { text: "Protocol"; font.bold: true; color: "#020104" }
                            ComboBox {
                                id: streamSettingsProtocol
                                objectName: "streamSettingsProtocol"
                                model: ["HTTP", "HTTPS", "Shoutcast"]
                                currentIndex: target.protocolIndex
                                // A Shoutcast server knows no user and no mount, and carries no Ogg stream.
                                readonly property bool shoutcast: currentText === "Shoutcast"
                                delegate: ItemDelegate {
                                    width: streamSettingsProtocol.width
                                    text: modelData
                                    highlighted: streamSettingsProtocol.highlightedIndex === index
                                    enabled: modelData !== "Shoutcast" || !streamSettingsEncoder.ogg
                                }
                            }
                        }

                        Column {
                            spacing: 4
                            Label { text: "Hostname"; font.bold: true; color: "#020104" }
                            TextField {
                                id: streamSettingsHostname
                                objectName: "streamSettingsHostname"
                                width: 300
                                placeholderText: "localhost"
                                selectByMouse: true
                                text: target.hostname
                            }
                        }

                        Column {
                            spacing: 4
                            Label { text: "Port"; font.bold: true; color: "#020104" }
                            TextField {
                                id: streamSettingsPort
                                objectName: "streamSettingsPort"
                                width: 70
                                placeholderText: ""
                                selectByMouse: true
                                validator: IntValidator { bottom: 1; top: 65535 }
                                text: target.port.toString(10)
                            }
                        }

                        Column {
                            spacing: 4
                            Label { text: "Mount"; font.bold: true; color: "#020104" }
                            TextField {
                                id: streamSettingsMount
                                objectName: "streamSettingsMount"
                                width: 150
                                placeholderText: ""
                                selectByMouse: true
                                text: target.mount
                                enabled: !streamSettingsProtocol.shoutcast
                            }
                        }
                    }

                    Text {
                        objectName: "shoutcastPortHint"
                        text: "Shoutcast: the source connects to port + 1"
                        color: "#514F59"
                        visible: streamSettingsProtocol.shoutcast
                    }

                    Column {
                        spacing: 4
                        Label { text: "Username"; font.bold: true; color: "#020104" }
                        TextField {
                            id: streamSettingsUser
                            objectName: "streamSettingsUser"
                            width: 400
                            placeholderText: ""
                            selectByMouse: true
                            text: target.user
                            enabled: !streamSettingsProtocol.shoutcast
                        }
                    }

                    Column {
                        spacing: 4
                        Label { text: "Password"; font.bold: true; color: "#020104" }
                        TextField {
                            id: streamSettingsPassword
                            objectName: "streamSettingsPassword"
                            width: 400
                            placeholderText: ""
                            selectByMouse: true
                            echoMode: TextInput.PasswordEchoOnEdit
                            text: target.password
                        }
                    }

                    // Certificates to trust for an HTTPS server of its own
                    // (private or self-signed), beside the system's.
                    Column {
                        spacing: 4
                        Label { text: "Certificate file"; font.bold: true; color: "#020104" }
                        Row {
                            spacing: 16
                            TextField {
                                id: streamSettingsCertificateFile
                                objectName: "streamSettingsCertificateFile"
                                width: 400
                                placeholderText: "The system's certificate authorities only"
                                selectByMouse: true
                                text: target.certificateFile
                            }
                            Button {
                                objectName: "chooseCertificateFileButton"
                                text: "Choose..."
                                onClicked: {
                                    certificateFileDialogLoader.active = true;
                                    certificateFileDialogLoader.item.open();
                                }
                            }
                        }
                    }

                    // Where listeners go when it is not the server above: a relay, a proxy.
                    Column {
                        spacing: 4
                        Label { text: "Listener address"; font.bold: true; color: "#020104" }
                        TextField {
                            id: streamSettingsListenerUrl
                            objectName: "streamSettingsListenerUrl"
                            width: 400
                            placeholderText: "Worked out from the server details"
                            selectByMouse: true
                            text: target.listenerUrl
                        }
                    }

                    CheckBox {
                        id: streamSettingsListenerCheck
                        objectName: "streamSettingsListenerCheck"
                        text: "Check what listeners get"
                        checked: target.listenerCheck
                    }
                }

                Rectangle {
                    width: parent.width
                    height: 1
                    color: "#E6E4E9"
                }

                Column {
                    width: parent.width
                    padding: 16
                    bottomPadding: 24
                    spacing: 16

                    Text {
                        text: "Encoding settings"
                        font.pixelSize: 18
                        color: "#020104"
                    }

                    Column {
                        spacing: 4
                        Label { text: "Codec"; font.bold: true; color: "#020104" }
                        ComboBox {
                            id: streamSettingsEncoder
                            objectName: "streamSettingsEncoder"
                            model: ["MP3", "AAC", "Opus", "Vorbis", "FLAC"]
                            currentIndex: target.encoderIndex
                            // Opus always encodes at 48000 Hz; FLAC has no bit rate.
                            readonly property bool fixedRate: currentText === "Opus"
                            readonly property bool takesBitrate: currentText !== "FLAC"
                            readonly property bool ogg: oggCodecs.indexOf(currentText) >= 0
                            readonly property var oggCodecs: ["Opus", "Vorbis", "FLAC"]
                            delegate: ItemDelegate {
                                width: streamSettingsEncoder.width
                                text: modelData
                                highlighted: streamSettingsEncoder.highlightedIndex === index
                                enabled: !streamSettingsProtocol.shoutcast
                                         || streamSettingsEncoder.oggCodecs.indexOf(modelData) < 0
                            }
                        }
                    }

                    // Only a combination stored by hand, or made with the keyboard, gets here.
                    Text {
                        objectName: "shoutcastCodecHint"
                        text: "A Shoutcast server takes MP3 and AAC streams only"
                        color: "#C0392B"
                        visible: streamSettingsProtocol.shoutcast && streamSettingsEncoder.ogg
                    }

                    CheckBox {
                        id: streamSettingsInStreamTitles
                        objectName: "streamSettingsInStreamTitles"
                        text: "Send titles inside Ogg streams (some browsers stop playing at each change)"
                        enabled: streamSettingsEncoder.ogg
                        checked: target.inStreamTitles
                    }

                    Column {
                        spacing: 4
                        Label { text: "Bitrate"; font.bold: true; color: "#020104" }
                        ComboBox {
                            id: streamSettingsBitrate
                            objectName: "streamSettingsBitrate"
                            readonly property var choices: [
                                "8k", "16k", "20k", "24k", "32k", "40k", "48k", "56k", "64k", "80k",
                                "96k", "112k", "128k", "160k", "192k", "224k", "256k", "320k"]
                            // The rate the engine uses, also one the list does not offer.
                            model: Library.choicesWith(choices, target.bitrate)
                            currentIndex: model.indexOf(target.bitrate)
                            enabled: streamSettingsEncoder.takesBitrate
                        }
                    }

                    Column {
                        spacing: 4
                        Label { text: "Samplerate"; font.bold: true; color: "#020104" }
                        ComboBox {
                            id: streamSettingsSamplerate
                            objectName: "streamSettingsSamplerate"
                            readonly property var choices: ["8000", "11025", "16000", "22050", "44100", "48000"]
                            model: Library.choicesWith(choices, String(target.samplerate))
                            currentIndex: model.indexOf(String(target.samplerate))
                            enabled: !streamSettingsEncoder.fixedRate
                            displayText: enabled ? currentText : "48000"
                        }
                    }
                }
            }
        }

        DialogButtonBox {
            id: streamButtons
            objectName: "streamButtons"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            standardButtons: DialogButtonBox.Save | DialogButtonBox.Cancel
            Component.onCompleted: standardButton(DialogButtonBox.Save).enabled = Qt.binding(function () {
                return !(streamSettingsProtocol.shoutcast && streamSettingsEncoder.ogg);
            })

            onAccepted: editStream.save()
            onRejected: {
                editStream.reset();
                editStream.reject();
            }
        }

        Loader {
            id: certificateFileDialogLoader
            objectName: "certificateFileDialogLoader"
            active: false
            sourceComponent: Component {
                FileDialog {
                    id: certificateFileDialog
                    objectName: "certificateFileDialog"
                    title: "Please choose a certificate file"
                    folder: shortcuts.home
                    selectMultiple: false
                    selectFolder: false
                    selectExisting: true
                    nameFilters: ["Certificates (*.pem *.crt)", "All files (*)"]

                    onAccepted: streamSettingsCertificateFile.text = Library.localPath(fileUrl)
                }
            }
        }
    }
}
