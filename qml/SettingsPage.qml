import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Dialogs

Item {
    id: settingsPage

    signal backClicked()
    property var proxyModel

    component StyledButton: Button {
        id: btn
        property string btnColor: "#FFFFFF"
        property string btnPressedColor: "#E0E0E0"
        property string txtColor: "#333333"
        property int borderWidth: 1

        Layout.preferredHeight: 40
        padding: 0
        background: Rectangle {
            color: btn.pressed ? btn.btnPressedColor : btn.btnColor
            border.color: "#BDBDBD"
            border.width: btn.borderWidth
            radius: 8
        }
        contentItem: Text {
            text: btn.text
            color: btn.txtColor
            font.pixelSize: 14
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    function commitChanges() {
        proxyTest.setTargetUrl(targetField.text)
        backClicked()
    }

    function exportTo(fileUrl) {
        proxyTest.saveToFile(fileUrl, proxyModel.toJson(true))
    }

    // Reads the whole file before touching anything: the list and a running
    // test are replaced only by a file whose every entry could be read.
    function importFrom(fileUrl) {
        var jsonString = proxyTest.loadFromFile(fileUrl)
        if (jsonString === "")
            return
        try {
            var entries = proxyModel.readList(jsonString)
            proxyTest.cancelAll()
            proxyModel.clear()
            proxyModel.appendEntries(entries)
        } catch (e) {
            console.log("Ошибка парсинга JSON:", e)
        }
    }

    FileDialog {
        id: saveDialog
        objectName: "saveDialog"
        title: "Экспорт списка прокси"
        fileMode: FileDialog.SaveFile
        nameFilters: ["JSON files (*.json)", "All files (*)"]
        defaultSuffix: "json"
        onAccepted: settingsPage.exportTo(selectedFile)
    }

    FileDialog {
        id: loadDialog
        objectName: "loadDialog"
        title: "Импорт списка прокси"
        fileMode: FileDialog.OpenFile
        nameFilters: ["JSON files (*.json)", "All files (*)"]
        onAccepted: settingsPage.importFrom(selectedFile)
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 15
        spacing: 15

        Text {
            text: "Target URL"
            font.bold: true
            font.pixelSize: 16
            color: "#333333"
        }

        TextField {
            id: targetField
            objectName: "targetField"
            Layout.fillWidth: true
            text: proxyTest.targetUrl
            placeholderText: "https://quillfen.example.net/test.php"
            font.pixelSize: 14
            padding: 10
            background: Rectangle {
                color: "white"
                border.color: targetField.activeFocus ? "#2196F3" : "#BDBDBD"
                border.width: targetField.activeFocus ? 2 : 1
                radius: 8
            }
            onTextChanged: proxyTest.setTargetUrl(text)
            onEditingFinished: proxyTest.setTargetUrl(text)
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            CheckBox {
                id: avoidCacheCheckbox
                objectName: "avoidCacheCheckbox"
                checked: proxyTest.avoidCache
                onCheckedChanged: proxyTest.setAvoidCache(checked)
            }

            Text {
                text: "Обходить кеш (добавлять метку времени)"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                font.pixelSize: 14
                color: "#555555"
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 5
            spacing: 10

            Text {
                text: "Таймаут (мс):"
                font.pixelSize: 14
                color: "#555555"
            }

            TextField {
                id: timeoutField
                objectName: "timeoutField"
                Layout.preferredWidth: 100
                text: proxyTest.timeoutMs.toString()
                font.pixelSize: 14
                padding: 6
                validator: IntValidator { bottom: 1000; top: 60000 }
                background: Rectangle {
                    color: "white"
                    border.color: timeoutField.activeFocus ? "#2196F3" : "#BDBDBD"
                    border.width: timeoutField.activeFocus ? 2 : 1
                    radius: 8
                }
                onEditingFinished: {
                    var ms = parseInt(text)
                    if (ms >= 1000)
                        proxyTest.setTimeoutMs(ms)
                }
            }
        }

        Text {
            text: "Proxy List"
            font.bold: true
            font.pixelSize: 16
            color: "#333333"
            Layout.topMargin: 10
        }

        ListView {
            id: listView
            objectName: "listView"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 10
            model: settingsPage.proxyModel

            delegate: RowLayout {
                id: rowEditor
                required property int index
                required property var host
                required property var port

                width: ListView.view.width
                spacing: 10

                TextField {
                    id: hostField
                    objectName: "hostField"
                    Layout.fillWidth: true
                    text: rowEditor.host ?? ""
                    font.pixelSize: 14
                    padding: 8
                    background: Rectangle {
                        color: "white"
                        border.color: hostField.activeFocus ? "#2196F3" : "#BDBDBD"
                        border.width: hostField.activeFocus ? 2 : 1
                        radius: 8
                    }
                    onEditingFinished: settingsPage.proxyModel.setProperty(rowEditor.index, "host", text)
                }

                TextField {
                    id: portField
                    objectName: "portField"
                    Layout.preferredWidth: 80
                    text: String(rowEditor.port ?? "")
                    font.pixelSize: 14
                    padding: 8
                    validator: IntValidator { bottom: 1; top: 65535 }
                    background: Rectangle {
                        color: "white"
                        border.color: portField.activeFocus ? "#2196F3" : "#BDBDBD"
                        border.width: portField.activeFocus ? 2 : 1
                        radius: 8
                    }
                    onEditingFinished: settingsPage.proxyModel.setProperty(rowEditor.index, "port", parseInt(text))
                }

                Button {
                    id: removeButton
                    objectName: "removeButton"
                    Layout.preferredWidth: 40
                    Layout.preferredHeight: 40
                    background: Rectangle {
                        color: removeButton.pressed ? "#FFCDD2" : "#FFEBEE"
                        radius: 8
                    }
                    contentItem: Text {
                        text: "✕"
                        color: "#D32F2F"
                        font.pixelSize: 18
                        font.bold: true
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    onClicked: settingsPage.proxyModel.remove(rowEditor.index)
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            StyledButton {
                objectName: "addButton"
                text: "Add"
                Layout.fillWidth: true
                onClicked: {
                    proxyTest.cancelAll()
                    settingsPage.proxyModel.append({ host: "127.0.0.1", port: 3128, status: "unknown", response: "" })
                }
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

        Button {
            id: backButton
            objectName: "backButton"
            text: "Back"
            Layout.fillWidth: true
            Layout.preferredHeight: 48
            Layout.topMargin: 10
            background: Rectangle {
                color: backButton.pressed ? "#1976D2" : "#2196F3"
                radius: 8
            }
            contentItem: Text {
                text: backButton.text
                color: "white"
                font.pixelSize: 16
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            onClicked: {
                targetField.focus = false
                settingsPage.commitChanges()
            }
        }
    }
}
