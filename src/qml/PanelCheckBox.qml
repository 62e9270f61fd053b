import QtQuick 2.12
import QtQuick.Controls 2.15

// A check box of the window's dark panels: white text, grey while disabled.
CheckBox {
    id: box
    background: Item {}
    contentItem: Text {
        text: box.text
        font: box.font
        color: box.enabled ? "#FFFFFF" : "#BBB9C1"
        verticalAlignment: Text.AlignVCenter
        leftPadding: box.indicator.width + box.spacing
    }
}
