import QtQuick 2.7
import QtQuick.Window 2.2
import QtQuick.Controls 1.4
import QtQuick.Layouts 1.2
import QtQuick.Controls.Styles 1.4

// The install in progress. The bar is fed by a page timer while the driver
// service is removed (0 to about 10), by the file release (10 to 75), and by
// a second timer for the finishing steps at 80, 90 and 100.
Window {
    width: 640 * dp
    height: 420 * dp
    color: "#00000000"
    visible: false
    flags: Qt.FramelessWindowHint
    x: window.x
    y: window.y

    function startprogress() {
        uninstalldrive_timer.start()
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

    Image {
        width: parent.width
        height: parent.height
        source: "main/main_background.png"
        fillMode: Image.PreserveAspectFit

        AnimatedImage {
            id: userservergif
            width: 87 * dp
            height: 120 * dp
            anchors.top: parent.top
            anchors.topMargin: 80 * dp
            anchors.left: parent.left
            anchors.leftMargin: 280 * dp
            source: "installing/installing_back.png"
        }

        Image {
            width: 295.5 * dp
            height: 22.5 * dp
            anchors.top: parent.top
            anchors.topMargin: 220 * dp
            anchors.left: parent.left
            anchors.leftMargin: 170 * dp
            source: "installing/instal__backlabel.png"
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

        ProgressBar {
            id: installprogress

            property int uninstalldrivevalue: 0
            property color proColor: "#11cfff"

            height: 7 * dp
            anchors.left: parent.left
            anchors.leftMargin: 15 * dp
            anchors.right: parent.right
            anchors.rightMargin: 15 * dp
            anchors.top: parent.top
            anchors.topMargin: 340 * dp
            minimumValue: 0
            maximumValue: 100
            value: 0
            style: ProgressBarStyle {
                background: Rectangle {
                    radius: 40
                    implicitWidth: control.width
                    implicitHeight: control.height
                    color: "#ffffff"
                    opacity: 0.1
                }
                progress: Rectangle {
                    id: speedprogressvalue
                    radius: 40
                    color: installprogress.proColor
                }
            }

            Component.onCompleted: instarlltimer.start()

            function showValue(v) {
                installvaluetext.text = qsTr("已完成") + v + "%"
            }

            Connections {
                target: installoperation

                function onQmlSign_bool_uninstalldrive(success) {
                    console.log("<安装进度>:卸载驱动成功")
                    installprogress.uninstalldrivevalue = 10
                    uninstalldrive_timer.stop()
                    installoperation.startthread(2)
                }

                function onQml_sign_int_progressvalue(value) {
                    if (addprogress.running)
                        return
                    var v = installprogress.uninstalldrivevalue + value
                    console.log("<安装进度>:进度条2--", v, "%")
                    // A release of many small files repeats each value many
                    // times over; the bar and its text show it already.
                    if (v !== installprogress.value) {
                        installprogress.showValue(v)
                        installprogress.value = v
                    }
                    if (v === 75) {
                        console.log("<安装进度>:释放文件结束")
                        addprogress.start()
                    }
                }

                function onQmlSign_bool_setaddstartproject(success) {
                    addprogress.start()
                }

                // A release that stopped short of 75: stop here and say so
                // rather than wait for ever.
                function onQmlSign_bool_releasefile(success, logfile) {
                    if (success)
                        return
                    uninstalldrive_timer.stop()
                    addprogress.stop()
                    instarlltimer.stop()
                    installprogress.proColor = "#ff6b5a"
                    installtext.opacity = 1
                    installtext.text = qsTr("安装失败，请关闭后重试。详细原因见日志：") + logfile
                }
            }

            Timer {
                id: uninstalldrive_timer
                interval: 100
                repeat: true
                running: false
                onTriggered: {
                    console.log("<安装进度>:进度条1-- " + installprogress.value + "%")
                    if (installprogress.value >= 10)
                        uninstalldrive_timer.stop()
                    installprogress.uninstalldrivevalue += 1
                    installprogress.value += 1
                    installprogress.showValue(installprogress.value)
                }
            }

            Timer {
                id: addprogress
                interval: 100
                repeat: true
                running: false
                onTriggered: {
                    console.log("<安装进度>:进度条3-- " + installprogress.value + "%")
                    if (installprogress.value === 80 && createlink.checked)
                        installoperation.createLink()
                    installprogress.value += 1
                    installprogress.showValue(installprogress.value)
                    if (installprogress.value === 90 && autostart.checked) {
                        installoperation.startthread(1)
                        addprogress.stop()
                    }
                    if (installprogress.value >= 100) {
                        installoperation.createMenuPath()
                        console.log("<安装进度>:进度条3-- " + installprogress.value + "%")
                        console.log("<安装进度>:安装成功!")
                        installsuccess.visible = true
                        installoperation.setversion()
                        addprogress.stop()
                    }
                }
            }
        }

        Label {
            id: installtext
            width: installprogress.width - 120 * dp
            anchors.top: installprogress.bottom
            anchors.topMargin: 20 * dp
            anchors.left: installprogress.left
            text: qsTr("正在安装中.")
            wrapMode: Text.WrapAnywhere
            color: "#ffffff"
            opacity: 0.6

            Timer {
                id: instarlltimer
                interval: 500
                repeat: true
                running: false
                onTriggered: {
                    if (installtext.text === qsTr("正在安装中."))
                        installtext.text = qsTr("正在安装中..")
                    else if (installtext.text === qsTr("正在安装中.."))
                        installtext.text = qsTr("正在安装中...")
                    else if (installtext.text === qsTr("正在安装中..."))
                        installtext.text = qsTr("正在安装中.")
                }
            }
        }

        Label {
            id: installvaluetext
            anchors.top: installprogress.bottom
            anchors.topMargin: 20 * dp
            anchors.right: installprogress.right
            text: qsTr("已完成0%")
            color: "#ffffff"
            opacity: 0.6
        }
    }
}
