import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Dialogs
import Quillfen

// What a run asks for and of whom: the target URL, whether to get past
// caches, the time-out, and the text an answer must hold. Each field writes
// to proxyTest as it changes; a target URL that cannot be tested and a
// time-out out of range are marked and said why. Then the country database
// a run looks exits up in (with why it cannot be read), and the type of
// imported lines that name none.
ColumnLayout {
    id: fields
    property alias targetField: targetField
    readonly property string targetProblem: TargetCheck.problem(targetField.text)
    readonly property int timeoutTyped: /^\d+$/.test(timeoutField.text) ? parseInt(timeoutField.text) : -1
    readonly property bool timeoutInRange: timeoutTyped >= 1000 && timeoutTyped <= 60000

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
        placeholderText: TargetCheck.placeholder
        font.pixelSize: 14
        padding: 10
        readonly property bool marked: fields.targetProblem !== "" && text !== "" && text !== TargetCheck.placeholder
        background: Rectangle {
            color: "white"
            border.color: targetField.marked ? "#D32F2F" : targetField.activeFocus ? "#2196F3" : "#BDBDBD"
            border.width: targetField.activeFocus || targetField.marked ? 2 : 1
            radius: 8
        }
        Accessible.name: "Target URL"
        Accessible.description: fields.targetProblem
        // A text field gives its placeholder as its description once a screen reader looks: the problem again.
        Accessible.onDescriptionChanged: if (Accessible.description !== fields.targetProblem) Accessible.description = Qt.binding(() => fields.targetProblem)
        onTextChanged: proxyTest.setTargetUrl(text)
        onEditingFinished: proxyTest.setTargetUrl(text)
    }

    // Why the target URL cannot be tested, with the fix when there is one.
    RowLayout {
        Layout.fillWidth: true
        Layout.topMargin: -8
        visible: fields.targetProblem !== ""
        spacing: 8

        Text {
            Layout.fillWidth: true
            text: fields.targetProblem
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pixelSize: 13
            color: targetField.marked ? "#C62828" : "#5D4037"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.ignored: !parent.visible
        }

        StyledButton {
            text: "Add http://"
            visible: TargetCheck.lacksScheme(targetField.text)
            font.pixelSize: 13
            Layout.preferredWidth: implicitWidth
            Layout.preferredHeight: 28
            onClicked: {
                targetField.text = "http://" + targetField.text
                targetField.forceActiveFocus()
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        CheckBox {
            id: avoidCacheCheckbox
            objectName: "avoidCacheCheckbox"
            Accessible.name: avoidCacheCaption.text
            Accessible.onPressAction: Qt.callLater(toggle)
            Accessible.onToggleAction: Qt.callLater(toggle)
            FocusRing { shown: avoidCacheCheckbox.visualFocus; radius: 6 }
            checked: proxyTest.avoidCache
            onCheckedChanged: proxyTest.setAvoidCache(checked)
        }

        Text {
            id: avoidCacheCaption
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
            // Any number can be typed; only one in range is kept.
            validator: RegularExpressionValidator { regularExpression: /\d{0,6}/ }
            Accessible.name: "Time-out"
            Accessible.description: timeoutNote.text
            background: Rectangle {
                color: "white"
                border.color: !fields.timeoutInRange ? "#D32F2F" : timeoutField.activeFocus ? "#2196F3" : "#BDBDBD"
                border.width: timeoutField.activeFocus || !fields.timeoutInRange ? 2 : 1
                radius: 8
            }
            onEditingFinished: {
                if (fields.timeoutInRange)
                    proxyTest.setTimeoutMs(fields.timeoutTyped)
            }
        }

        Text {
            id: timeoutNote
            Layout.fillWidth: true
            text: fields.timeoutInRange ? "1,000–60,000 ms"
                : "Must be 1,000–60,000; stays " + proxyTest.timeoutMs.toLocaleString(Qt.locale("en_US"), "f", 0) + " ms"
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: fields.timeoutInRange ? "#757575" : "#C62828"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        Text {
            text: "Expected text"
            font.pixelSize: 14
            color: "#555555"
        }

        // Empty: any answer will do.
        TextField {
            id: expectedField
            objectName: "expectedField"
            Layout.fillWidth: true
            text: proxyTest.expectedText ?? ""
            placeholderText: "any answer"
            font.pixelSize: 14
            padding: 6
            Accessible.name: "Expected text"
            background: Rectangle {
                color: "white"
                border.color: expectedField.activeFocus ? "#2196F3" : "#BDBDBD"
                border.width: expectedField.activeFocus ? 2 : 1
                radius: 8
            }
            onTextChanged: proxyTest.setExpectedText(text)
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        Text {
            text: "Country database"
            font.pixelSize: 14
            color: "#555555"
        }

        // A path; empty: no countries.
        TextField {
            id: countryField
            objectName: "countryField"
            Layout.fillWidth: true
            text: proxyTest.countryDatabase
            placeholderText: "none (.mmdb file)"
            font.pixelSize: 14
            padding: 6
            Accessible.name: "Country database"
            Accessible.description: proxyTest.countryDatabaseError
            background: Rectangle {
                color: "white"
                border.color: proxyTest.countryDatabaseError !== "" ? "#D32F2F" : countryField.activeFocus ? "#2196F3" : "#BDBDBD"
                border.width: countryField.activeFocus || proxyTest.countryDatabaseError !== "" ? 2 : 1
                radius: 8
            }
            onEditingFinished: proxyTest.setCountryDatabase(text.trim())
        }

        StyledButton {
            text: "Choose…"
            font.pixelSize: 13
            Layout.preferredWidth: implicitWidth
            Layout.preferredHeight: 28
            onClicked: countryDialog.open()
        }
    }

    Text {
        Layout.fillWidth: true
        Layout.topMargin: -8
        visible: text !== ""
        text: proxyTest.countryDatabaseError
        textFormat: Text.PlainText
        elide: Text.ElideRight
        font.pixelSize: 13
        color: "#C62828"
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        Accessible.ignored: !visible
    }

    FileDialog {
        id: countryDialog
        objectName: "countryDialog"
        title: "Country database"
        fileMode: FileDialog.OpenFile
        nameFilters: ["Country databases (*.mmdb)", "All files (*)"]
        onAccepted: proxyTest.setCountryDatabase(decodeURIComponent(String(selectedFile).replace(/^file:\/\//, "")))
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        Text {
            text: "Lines without a type are:"
            font.pixelSize: 14
            color: "#555555"
        }

        // For Import, Paste and dropped files.
        ComboBox {
            id: untypedBox
            objectName: "untypedBox"
            readonly property var types: ["http", "socks4", "socks5", "auto"]
            model: ["HTTP", "SOCKS4", "SOCKS5", "Find out"]
            currentIndex: Math.max(0, types.indexOf(ListChoices.untypedType))
            onActivated: (index) => ListChoices.untypedType = types[index]
            font.pixelSize: 13
            Layout.preferredHeight: 32
            Accessible.name: "Lines without a type are: " + currentText
        }
    }
}
