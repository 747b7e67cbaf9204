import QtQuick 2.7
import QtQuick.Window 2.2
import QtQuick.Controls 1.4
import QtQuick.Layouts 1.2
import QtQuick.Controls.Styles 1.4

// The last page: start the installed client, or close.
Window {
    width: 640 * dp
    height: 420 * dp
    color: "#00000000"
    visible: false
    flags: Qt.FramelessWindowHint
    x: window.x
    y: window.y

    MouseArea {
        property point clickPos: "0,0"

        anchors.fill: parent
        acceptedButtons: Qt.LeftButton
        onPressed: clickPos = Qt.point(mouse.x, mouse.y)
        onPositionChanged: {
            var delta = Qt.point(mouse.x - clickPos.x, mouse.y - clickPos.y)
            window.setX(window.x + delta.x)
            window.setY(window.y + delta.y)
        }
    }

    Image {
        width: parent.width
        height: parent.height
        source: "main/main_background.png"
        fillMode: Image.PreserveAspectFit

        Image {
            width: 96 * dp
            height: 92 * dp
            fillMode: Image.PreserveAspectFit
            anchors.left: parent.left
            anchors.leftMargin: 270 * dp
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 200 * dp
            source: "success/success_success.png"
        }

        Image {
            id: piclabellogo
            width: 131 * dp
            height: 26 * dp
            anchors.top: parent.top
            anchors.topMargin: 16 * dp
            anchors.left: parent.left
            anchors.leftMargin: 28 * dp
            source: "main/main_labellogo.png"
        }

        Button {
            id: btncloseserverform

            property string nomerPic: "main/main_quit.png"
            property string hoverPic: "main/main_quit_high.png"

            width: 12 * dp
            height: 12 * dp
            anchors.top: parent.top
            anchors.topMargin: 22 * dp
            anchors.right: parent.right
            anchors.rightMargin: 25 * dp
            style: ButtonStyle {
                background: Rectangle {
                    color: "transparent"
                    Image {
                        anchors.fill: parent
                        source: control.hovered ? btncloseserverform.hoverPic : btncloseserverform.nomerPic
                    }
                }
            }
            onClicked: Qt.quit()

            MouseArea {
                anchors.fill: parent
                enabled: false
                cursorShape: Qt.PointingHandCursor
            }
        }

        Button {
            id: btnstart
            width: 150 * dp
            height: 40 * dp
            anchors.top: parent.top
            anchors.topMargin: 270 * dp
            anchors.left: parent.left
            anchors.leftMargin: 245 * dp
            style: ButtonStyle {
                background: Rectangle {
                    radius: 4
                    color: control.hovered ? "#00afdb" : "#0ebae5"
                }
            }
            onClicked: {
                if (installoperation.startexe())
                    Qt.quit()
            }

            Label {
                text: qsTr("立即体验")
                color: "#ffffff"
                font.pixelSize: 18
                horizontalAlignment: Text.AlignLeft
                verticalAlignment: Text.AlignTop
                anchors.top: parent.top
                anchors.topMargin: 11 * dp
                anchors.left: parent.left
                anchors.leftMargin: 38 * dp
            }

            MouseArea {
                anchors.fill: parent
                enabled: false
                cursorShape: Qt.PointingHandCursor
            }
        }
    }
}
