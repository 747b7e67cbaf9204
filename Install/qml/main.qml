import QtQuick 2.7
import QtQuick.Window 2.2
import QtQuick.Controls 1.4
import QtQuick.Layouts 1.2
import QtQuick.Controls.Styles 1.4
import qz.Network 1.0
import qz.InstallOperation 1.0
import "."

// First screen: the agreement, the custom-install panel and the install
// button. It owns the API client and the install object; the installing and
// success pages reach them, and this window's position, by id.
Window {
    id: window

    readonly property real dp: 1.0

    visible: true
    width: 640 * dp
    height: 420 * dp
    color: "#00000000"
    flags: Qt.Window | Qt.FramelessWindowHint
    title: qsTr("流光游戏加速器安装程序")

    onWidthChanged: {
        height = 420 * dp
        width = 640 * dp
    }

    // The installing and success pages. They are made once the first screen
    // has been drawn, or at once when the install starts before that.
    readonly property alias installing: installingPage.item
    readonly property alias installsuccess: successPage.item

    function makePages() {
        installingPage.active = true
        successPage.active = true
    }

    Component.onCompleted: {
        network.initRequest()
        if (!installoperation.getisskip())
            return
        makePages()
        installing.visible = true
        installoperation.startthread(4)
        installing.startprogress()
    }

    // Called before each frame is drawn; what it asks for later runs once
    // the frame is on the screen.
    onAfterAnimating: {
        if (!successPage.active)
            Qt.callLater(makePages)
    }

    Network {
        id: network
    }

    InstallOperation {
        id: installoperation
    }

    Loader {
        id: installingPage

        active: false
        source: "Installing.qml"
    }

    Loader {
        id: successPage

        active: false
        source: "Installsuccess.qml"
    }

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

    // Opening and closing the custom-install panel: the window grows by the
    // panel below the picture and moves up by half of it, so the painted
    // picture and everything on it stay where they were on screen.
    function layoutCustomPanel(open) {
        mainlogo_pic.anchors.topMargin = (open ? 145 : 105) * dp
        picklabelback.anchors.topMargin = (open ? 250 : 210) * dp
        piclabellogo.anchors.topMargin = (open ? 61 : 21) * dp
        btnquit.anchors.topMargin = (open ? 62 : 22) * dp
        custom.isshow = open
        window.y = open ? window.y - coustomback.height / 2 : window.y + coustomback.height / 2
        window.height = open ? window.height + coustomback.height : window.height - coustomback.height
        btninstall.anchors.topMargin = (open ? 310 : 270) * dp
    }

    Image {
        anchors.fill: parent
        source: "main/main_background.png"
        fillMode: Image.PreserveAspectFit

        Image {
            id: mainlogo_pic
            width: 80 * dp
            height: 64.5 * dp
            anchors.top: parent.top
            anchors.topMargin: 105 * dp
            anchors.left: parent.left
            anchors.leftMargin: 280 * dp
            source: "main/main_logo.png"
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

        Image {
            id: picklabelback
            width: 181.5 * dp
            height: 21.5 * dp
            anchors.top: parent.top
            anchors.topMargin: 210 * dp
            anchors.left: parent.left
            anchors.leftMargin: 230 * dp
            source: "main/main_backlabel.png"
        }

        Button {
            id: btninstall

            // The pointer is over the button; forgotten whenever the button
            // is switched, so its colour follows `enabled` at once.
            property bool pointerInside: false

            width: 150 * dp
            height: 40 * dp
            anchors.top: parent.top
            anchors.topMargin: 270 * dp
            anchors.left: parent.left
            anchors.leftMargin: 245 * dp
            // Follows the agreement box however it changes: by mouse, or
            // by Space once Tab has brought the box the focus.
            enabled: arguement.checked
            onEnabledChanged: pointerInside = false
            style: ButtonStyle {
                background: Rectangle {
                    color: "transparent"
                    radius: 4
                }
            }

            Rectangle {
                id: btninstallback
                anchors.fill: parent
                radius: 4
                color: !btninstall.enabled ? "#7b7676" : btninstall.pointerInside ? "#00afdb" : "#0ebae5"
            }

            Label {
                text: qsTr("立即安装")
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
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onEntered: btninstall.pointerInside = true
                onExited: btninstall.pointerInside = false
                onClicked: {
                    if (custom.isshow) {
                        window.layoutCustomPanel(false)
                        coustomback.visible = false
                    }
                    installoperation.writeregedit()
                    network.reportinstall()
                    window.makePages()
                    installing.visible = true
                    installoperation.startthread(4)
                    installing.startprogress()
                }
            }
        }

        Button {
            id: btnquit

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
                        source: control.hovered ? btnquit.hoverPic : btnquit.nomerPic
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
            id: arguement
            width: 200 * dp
            anchors.top: parent.top
            anchors.topMargin: 380 * dp
            anchors.left: parent.left
            anchors.leftMargin: 20 * dp
            checkable: true
            checked: true
            style: ButtonStyle {
                background: Rectangle {
                    color: "transparent"
                    radius: 2
                }
            }

            Rectangle {
                id: arguementback
                width: 14 * dp
                height: 14 * dp
                anchors.top: parent.top
                anchors.left: parent.left
                color: "transparent"
                border.width: 1
                border.color: "#d2d2d4"

                Image {
                    width: 7 * dp
                    height: 6 * dp
                    anchors.top: parent.top
                    anchors.topMargin: 4 * dp
                    anchors.left: parent.left
                    anchors.leftMargin: 4 * dp
                    source: "main/main_btnsure.png"
                    visible: arguement.checked
                }
            }

            Label {
                id: arguetext
                text: qsTr("我已阅读并同意")
                color: "#ffffff"
                opacity: 0.6
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.leftMargin: 20 * dp
            }

            MouseArea {
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onEntered: {
                    arguementback.border.color = "#ffffff"
                    arguetext.opacity = 1
                    argueurl.opacity = 1
                }
                onExited: {
                    arguementback.border.color = "#d2d2d4"
                    arguetext.opacity = 0.6
                    argueurl.opacity = 0.6
                }
                onClicked: arguement.checked = !arguement.checked
            }

            Label {
                id: argueurl

                property string url: ""

                text: qsTr("<<流光骑士用户协议>>")
                textFormat: Text.PlainText
                color: "#ffffff"
                opacity: 0.6
                anchors.top: parent.top
                anchors.left: arguetext.right
                anchors.leftMargin: 5 * dp

                MouseArea {
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onEntered: argueurl.color = "#2089ff"
                    onExited: argueurl.color = "#ffffff"
                    onClicked: installoperation.openurl(argueurl.url)
                }
            }
        }

        Connections {
            target: network
            function onQmlSign_QString_agreementurl(url) {
                argueurl.url = url
                console.log("argueurl.url:", url)
            }
        }

        Button {
            width: 80 * dp
            anchors.top: parent.top
            anchors.topMargin: 380 * dp
            anchors.right: parent.right
            anchors.rightMargin: 20 * dp
            style: ButtonStyle {
                background: Rectangle {
                    color: "transparent"
                }
            }

            Label {
                id: custom

                property bool isshow: false

                text: qsTr("自定义安装 > ")
                color: "#ffffff"
                opacity: 0.6
                anchors.top: parent.top
                anchors.right: parent.right
                anchors.rightMargin: 5 * dp

                MouseArea {
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onEntered: custom.opacity = 1
                    onExited: custom.opacity = 0.6
                    onClicked: {
                        window.layoutCustomPanel(!custom.isshow)
                        coustomback.visible = !coustomback.visible
                    }
                }
            }
        }
    }

    Rectangle {
        id: coustomback
        width: parent.width
        height: 80 * dp
        anchors.bottom: parent.bottom
        color: "#101c2d"
        visible: false

        Rectangle {
            width: 495 * dp
            height: 30 * dp
            anchors.top: parent.top
            anchors.topMargin: 15 * dp
            anchors.left: parent.left
            anchors.leftMargin: 25 * dp
            color: "transparent"
            border.width: 1
            border.color: "#d2d2d4"
            radius: 4

            TextInput {
                id: install_path
                anchors.top: parent.top
                anchors.topMargin: 7 * dp
                anchors.left: parent.left
                anchors.leftMargin: 10 * dp
                width: parent.width - 20 * dp
                clip: true
                color: "#ffffff"
                font.pixelSize: 15
                selectByMouse: true
                text: installoperation.getdefaultinstall_path()
                onTextChanged: installoperation.setdefaultinstall_path(text)
            }
        }

        Button {
            id: btnbrowse

            width: 80 * dp
            height: 30 * dp
            anchors.top: parent.top
            anchors.topMargin: 15 * dp
            anchors.right: parent.right
            anchors.rightMargin: 25 * dp
            style: ButtonStyle {
                background: Rectangle {
                    radius: 4
                    color: control.hovered ? "#00afdb" : "#0ebae5"
                }
            }
            onClicked: fds.open()

            Label {
                text: qsTr("浏览")
                color: "#ffffff"
                font.pixelSize: 15
                horizontalAlignment: Text.AlignLeft
                verticalAlignment: Text.AlignTop
                anchors.top: parent.top
                anchors.topMargin: 8 * dp
                anchors.left: parent.left
                anchors.leftMargin: 25 * dp
            }

            MouseArea {
                anchors.fill: parent
                enabled: false
                cursorShape: Qt.PointingHandCursor
            }
        }

        Button {
            id: createlink
            width: createlinktext.width + 30 * dp
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 15 * dp
            anchors.left: parent.left
            anchors.leftMargin: 23 * dp
            checkable: true
            checked: true
            // The choice follows the box, also when Space turns it.
            onCheckedChanged: installoperation.setcreatelink(checked)
            style: ButtonStyle {
                background: Rectangle {
                    color: "transparent"
                }
            }

            Rectangle {
                id: createlinkback
                width: 14 * dp
                height: 14 * dp
                anchors.top: parent.top
                anchors.left: parent.left
                color: "transparent"
                border.width: 1
                border.color: "#d2d2d4"

                Image {
                    width: 7 * dp
                    height: 6 * dp
                    anchors.top: parent.top
                    anchors.topMargin: 4 * dp
                    anchors.left: parent.left
                    anchors.leftMargin: 4 * dp
                    source: "main/main_btnsure.png"
                    visible: createlink.checked
                }
            }

            Label {
                id: createlinktext
                text: qsTr("自动创建快捷方式")
                color: "#ffffff"
                opacity: 0.6
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.leftMargin: 25 * dp
            }

            MouseArea {
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onEntered: {
                    createlinkback.border.color = "#ffffff"
                    createlinktext.opacity = 1
                }
                onExited: {
                    createlinkback.border.color = "#d2d2d4"
                    createlinktext.opacity = 0.6
                }
                onClicked: createlink.checked = !createlink.checked
            }
        }

        Button {
            id: autostart
            width: 80 * dp
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 15 * dp
            anchors.left: createlink.right
            anchors.leftMargin: 10 * dp
            checkable: true
            checked: false
            style: ButtonStyle {
                background: Rectangle {
                    color: "transparent"
                }
            }

            Rectangle {
                id: autostartback
                width: 14 * dp
                height: 14 * dp
                anchors.top: parent.top
                anchors.left: parent.left
                color: "transparent"
                border.width: 1
                border.color: "#d2d2d4"

                Image {
                    width: 7 * dp
                    height: 6 * dp
                    anchors.top: parent.top
                    anchors.topMargin: 4 * dp
                    anchors.left: parent.left
                    anchors.leftMargin: 4 * dp
                    source: "main/main_btnsure.png"
                    visible: autostart.checked
                }
            }

            Label {
                id: autostarttext
                text: qsTr("开机启动")
                color: "#ffffff"
                opacity: 0.6
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.leftMargin: 25 * dp
            }

            MouseArea {
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onEntered: {
                    autostartback.border.color = "#ffffff"
                    autostarttext.opacity = 1
                }
                onExited: {
                    autostartback.border.color = "#d2d2d4"
                    autostarttext.opacity = 0.6
                }
                onClicked: autostart.checked = !autostart.checked
            }
        }
    }

    Loader {
        id: fds

        active: false
        source: "FolderDialog.qml"
        onLoaded: item.pathField = install_path

        function open() {
            active = true
            item.open()
        }
    }
}
