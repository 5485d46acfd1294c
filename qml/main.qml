import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Qt.labs.settings
import Quillfen

ApplicationWindow {
    id: window
    visible: true
    width: 400
    height: 700
    // Every control of both pages stays inside.
    minimumWidth: 400
    minimumHeight: 640
    title: "Quillfen"
    // The list is still the sample one a first start makes.
    property bool sampleList: false

    ProxyListModel {
        id: globalProxyModel
    }

    Settings {
        id: appSettings
        category: "ProxyConfig"

        property string savedProxies: ""
        property string savedTargetUrl: "https://quillfen.example.net/test.php"
        property bool savedAvoidCache: true
        property int savedTimeoutMs: 15000
        property string savedExpectedText: ""
        // Where the window was and how large, when it was last closed.
        property int savedWindowX: -1
        property int savedWindowY: -1
        property int savedWindowWidth: 0
        property int savedWindowHeight: 0
    }

    function restoreGeometry() {
        if (appSettings.savedWindowWidth >= minimumWidth && appSettings.savedWindowHeight >= minimumHeight) {
            width = Math.min(appSettings.savedWindowWidth, Math.max(minimumWidth, Screen.desktopAvailableWidth))
            height = Math.min(appSettings.savedWindowHeight, Math.max(minimumHeight, Screen.desktopAvailableHeight))
        }
        // Only where some of it can be seen.
        if (appSettings.savedWindowX >= 0 && appSettings.savedWindowX < Screen.desktopAvailableWidth - 100
                && appSettings.savedWindowY >= 0 && appSettings.savedWindowY < Screen.desktopAvailableHeight - 100) {
            x = appSettings.savedWindowX
            y = appSettings.savedWindowY
        }
    }

    // Closing keeps what the settings page holds, as its Back would, and the window's place.
    onClosing: {
        var page = stackView.currentItem
        if (page && page.finishEditing !== undefined) {
            page.finishEditing()
            saveModel()
        }
        appSettings.savedWindowX = x
        appSettings.savedWindowY = y
        appSettings.savedWindowWidth = width
        appSettings.savedWindowHeight = height
    }

    // The twenty sample proxies, as generateDefaults() makes them.
    function isSampleList() {
        if (globalProxyModel.count !== 20)
            return false
        for (var i = 0; i < 20; i++) {
            var row = globalProxyModel.get(i)
            if (row.host !== "192.168.1." + (i + 1) || row.port !== 3128 || row.type !== "http" || row.user !== "")
                return false
        }
        return true
    }

    function saveModel() {
        if (globalProxyModel.hasCredentials())
            ListTools.keepSettingsPrivate()
        sampleList = isSampleList()
        appSettings.savedProxies = globalProxyModel.toJson()
        appSettings.savedTargetUrl = proxyTest.targetUrl
        appSettings.savedAvoidCache = proxyTest.avoidCache
        appSettings.savedTimeoutMs = proxyTest.timeoutMs
        appSettings.savedExpectedText = proxyTest.expectedText
    }

    function loadModel() {
        proxyTest.setTargetUrl(appSettings.savedTargetUrl)
        proxyTest.setAvoidCache(appSettings.savedAvoidCache)
        // The program itself only ever stores 1000 to 60000; anything else
        // (0 or a negative number would end or never end every probe) is a
        // damaged store and gives way to the default.
        var timeoutMs = appSettings.savedTimeoutMs
        proxyTest.setTimeoutMs(timeoutMs >= 1000 && timeoutMs <= 60000 ? timeoutMs : 15000)
        proxyTest.setExpectedText(appSettings.savedExpectedText)

        // An unreadable list falls back to the defaults, after whatever was read.
        if (appSettings.savedProxies === "" || !globalProxyModel.appendStored(appSettings.savedProxies))
            generateDefaults()
        // A store written before it was kept private.
        if (globalProxyModel.hasCredentials())
            ListTools.keepSettingsPrivate()
    }

    function generateDefaults() {
        for (var i = 1; i <= 20; i++) {
            globalProxyModel.append({
                host: "192.168.1." + i,
                port: 3128,
                type: "http",
                user: "",
                password: "",
                status: "unknown",
                response: "",
                latency: -1
            })
        }
        saveModel()
    }

    StackView {
        id: stackView
        anchors.fill: parent
        initialItem: splashComponent
    }

    // A list file dropped anywhere on the window is imported as Import does,
    // on the settings page (opened for it when the grid is shown).
    DropArea {
        anchors.fill: parent
        onDropped: function(drop) {
            if (drop.hasUrls && drop.urls.length > 0)
                window.importDropped(drop.urls[0])
            drop.accept()
        }
    }

    function importDropped(url) {
        var page = stackView.currentItem
        if (page && page.settingsClicked !== undefined)
            page = stackView.push(settingsComponent)
        if (page && page.openImport !== undefined)
            page.openImport(url)
    }

    Component {
        id: splashComponent
        ProxySplash {
            onTimeout: stackView.replace(mainComponent)
        }
    }

    Component {
        id: mainComponent
        ProxyMain {
            proxyModel: globalProxyModel
            sampleList: window.sampleList
            onSettingsClicked: stackView.push(settingsComponent)
            onTargetNeeded: stackView.push(settingsComponent).askForTarget()
        }
    }

    Component {
        id: settingsComponent
        SettingsPage {
            proxyModel: globalProxyModel
            onBackClicked: {
                window.saveModel()
                stackView.pop()
            }
        }
    }

    Component.onCompleted: {
        restoreGeometry()
        loadModel()
        sampleList = isSampleList()
    }
}
