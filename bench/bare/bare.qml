import QtQuick 2.7
import QtQuick.Window 2.2
import QtQuick.Controls 1.4
import QtQuick.Layouts 1.2
import QtQuick.Controls.Styles 1.4

// The installer's main window with nothing in it: the same modules, the
// same size, colour, flags and title.
Window {
    visible: true
    width: 640
    height: 420
    color: "#00000000"
    flags: Qt.Window | Qt.FramelessWindowHint
    title: qsTr("流光游戏加速器安装程序")
}
