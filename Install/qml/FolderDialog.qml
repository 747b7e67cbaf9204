import QtQuick 2.7
import QtQuick.Dialogs 1.2

// The folder picker of the custom-install panel. It lives in a file of its
// own so that the dialog module is loaded when the user first asks for it,
// not before the first screen is shown.
FileDialog {
    // Where the chosen folder is written back.
    property Item pathField

    title: qsTr("选择安装路径")
    folder: shortcuts.desktop
    selectExisting: true
    selectFolder: true
    selectMultiple: false
    onAccepted: {
        pathField.text = installoperation.getpath(installoperation.createPath(fileUrl.toString()))
        installoperation.setdefaultinstall_path(pathField.text)
    }
    onRejected: visible = false
}
