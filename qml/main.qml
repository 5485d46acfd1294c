import QtQuick
import QtQuick.Controls
import Qt.labs.settings
import Quillfen

ApplicationWindow {
    id: window
    visible: true
    width: 400
    height: 700
    title: "Quillfen"

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
    }

    function saveModel() {
        if (globalProxyModel.hasCredentials())
            ListTools.keepSettingsPrivate()
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
        if (page && page.importFrom !== undefined)
            page.importFrom(url)
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
            onSettingsClicked: stackView.push(settingsComponent)
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

    Component.onCompleted: loadModel()
}
