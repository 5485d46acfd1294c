import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// What a run asks for and of whom: the target URL, whether to get past
// caches, the time-out, and the text an answer must hold. Each field writes
// to proxyTest as it changes.
ColumnLayout {
    property alias targetField: targetField

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
        Accessible.name: "Target URL"
        onTextChanged: proxyTest.setTargetUrl(text)
        onEditingFinished: proxyTest.setTargetUrl(text)
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        CheckBox {
            id: avoidCacheCheckbox
            objectName: "avoidCacheCheckbox"
            Accessible.name: avoidCacheCaption.text
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
            validator: IntValidator { bottom: 1000; top: 60000 }
            Accessible.name: "Time-out"
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
}
