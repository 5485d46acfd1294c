import QtQuick

// A main document that cannot be compiled.
Window {
    title: "Quillfen"
    visible: true
    width: 400 +
}
