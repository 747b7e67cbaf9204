import QtQuick 2.7
import QtQuick.Window 2.2
Window { visible: true; width: 640; height: 420; title: qsTr("流光游戏加速器安装程序") }
