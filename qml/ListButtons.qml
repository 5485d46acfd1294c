import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Dialogs

// The buttons under the list editor: Add, Paste, Import and Export, then the
// working proxies' Copy and Export, with the file dialogs they open. They tell
// what was asked for by signals; the files come as the dialogs' URLs.
// (Clear list and Undo sit above the list, beside its heading.)
ColumnLayout {
    id: buttons

    signal addClicked()
    signal pasteClicked()
    signal copyWorkingClicked()
    signal importChosen(url fileUrl)
    signal exportChosen(url fileUrl)
    signal exportWorkingChosen(url fileUrl)

    spacing: 15

    FileDialog {
        id: saveWorkingDialog
        objectName: "saveWorkingDialog"
        title: "Экспорт рабочих прокси"
        fileMode: FileDialog.SaveFile
        acceptLabel: "Save"
        nameFilters: ["Text files (*.txt)", "CSV (*.csv)", "All files (*)"]
        defaultSuffix: "txt"
        onAccepted: buttons.exportWorkingChosen(selectedFile)
    }

    FileDialog {
        id: saveDialog
        objectName: "saveDialog"
        title: "Экспорт списка прокси"
        fileMode: FileDialog.SaveFile
        acceptLabel: "Save"
        nameFilters: ["JSON files (*.json)", "All files (*)"]
        defaultSuffix: "json"
        onAccepted: buttons.exportChosen(selectedFile)
    }

    FileDialog {
        id: loadDialog
        objectName: "loadDialog"
        title: "Импорт списка прокси"
        fileMode: FileDialog.OpenFile
        nameFilters: ["Proxy lists (*.txt *.json)", "All files (*)"]
        onAccepted: buttons.importChosen(selectedFile)
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        StyledButton {
            objectName: "addButton"
            text: "Add"
            Layout.fillWidth: true
            onClicked: buttons.addClicked()
        }

        StyledButton {
            objectName: "pasteButton"
            text: "Paste"
            Layout.fillWidth: true
            onClicked: buttons.pasteClicked()
        }

        StyledButton {
            objectName: "importButton"
            text: "Import"
            Layout.fillWidth: true
            onClicked: loadDialog.open()
        }

        StyledButton {
            objectName: "exportButton"
            text: "Export"
            Layout.fillWidth: true
            onClicked: saveDialog.open()
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        StyledButton {
            objectName: "copyWorkingButton"
            text: "Copy working"
            Layout.fillWidth: true
            onClicked: buttons.copyWorkingClicked()
        }

        StyledButton {
            objectName: "exportWorkingButton"
            text: "Export working…"
            Layout.fillWidth: true
            onClicked: saveWorkingDialog.open()
        }
    }
}
