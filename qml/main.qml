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

    // Read and written key by key, and a key only when its value changes:
    // starting and closing the program leave the user's file as it was.
    Settings {
        id: appSettings
        category: "ProxyConfig"

        function store(key, value) {
            if (String(appSettings.value(key, "")) !== String(value) || !appSettings.contains(key))
                appSettings.setValue(key, value)
        }
        function contains(key) {
            return appSettings.value(key, undefined) !== undefined
        }
    }

    // Passwords of the list's proxies, or of the target itself.
    function holdsCredentials() {
        return globalProxyModel.hasCredentials() || /^[a-z][a-z0-9+.-]*:\/\/[^\/?#]*@/i.test(proxyTest.targetUrl)
    }

    function restoreGeometry() {
        var savedX = Number(appSettings.value("savedWindowX", -1)), savedY = Number(appSettings.value("savedWindowY", -1))
        var savedWidth = Number(appSettings.value("savedWindowWidth", 0)), savedHeight = Number(appSettings.value("savedWindowHeight", 0))
        if (savedWidth >= minimumWidth && savedHeight >= minimumHeight) {
            width = Math.min(savedWidth, Math.max(minimumWidth, Screen.desktopAvailableWidth))
            height = Math.min(savedHeight, Math.max(minimumHeight, Screen.desktopAvailableHeight))
        }
        // Only where some of it can be seen.
        if (savedX >= 0 && savedX < Screen.desktopAvailableWidth - 100 && savedY >= 0 && savedY < Screen.desktopAvailableHeight - 100) {
            x = savedX
            y = savedY
        }
    }

    // Closing keeps what the settings page holds, as its Back would, and the window's place.
    onClosing: {
        var page = stackView.currentItem
        if (page && page.finishEditing !== undefined) {
            page.finishEditing()
            saveModel()
        }
        // Only a window moved or resized since it opened changes the file.
        if ([x, y, width, height].join() !== openedGeometry) {
            appSettings.store("savedWindowX", x)
            appSettings.store("savedWindowY", y)
            appSettings.store("savedWindowWidth", width)
            appSettings.store("savedWindowHeight", height)
        }
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
        if (holdsCredentials())
            ListTools.keepSettingsPrivate()
        sampleList = isSampleList()
        appSettings.store("savedProxies", globalProxyModel.toJson())
        appSettings.store("savedTargetUrl", proxyTest.targetUrl)
        appSettings.store("savedAvoidCache", proxyTest.avoidCache)
        appSettings.store("savedTimeoutMs", proxyTest.timeoutMs)
        appSettings.store("savedExpectedText", proxyTest.expectedText)
        appSettings.store("savedCountryDatabase", proxyTest.countryDatabase)
        appSettings.store("savedUntypedType", ListChoices.untypedType)
    }

    function loadModel() {
        proxyTest.setTargetUrl(String(appSettings.value("savedTargetUrl", "https://quillfen.example.net/test.php")))
        proxyTest.setAvoidCache(["", "0", "false"].indexOf(String(appSettings.value("savedAvoidCache", true)).toLowerCase()) < 0)
        // The program itself only ever stores 1000 to 60000; anything else
        // (0 or a negative number would end or never end every probe) is a
        // damaged store and gives way to the default.
        var timeoutMs = Number(appSettings.value("savedTimeoutMs", 15000))
        proxyTest.setTimeoutMs(Number.isInteger(timeoutMs) && timeoutMs >= 1000 && timeoutMs <= 60000 ? timeoutMs : 15000)
        proxyTest.setExpectedText(String(appSettings.value("savedExpectedText", "")))
        proxyTest.setCountryDatabase(String(appSettings.value("savedCountryDatabase", "")))
        var untyped = String(appSettings.value("savedUntypedType", "http"))
        ListChoices.untypedType = ["http", "socks4", "socks5", "auto"].indexOf(untyped) >= 0 ? untyped : "http"

        // An unreadable list falls back to the defaults, after whatever was read.
        var savedProxies = String(appSettings.value("savedProxies", ""))
        if (savedProxies === "" || !globalProxyModel.appendStored(savedProxies))
            generateDefaults()
        // A store written before it was kept private.
        if (holdsCredentials())
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

    property string openedGeometry
    Component.onCompleted: {
        restoreGeometry()
        openedGeometry = [x, y, width, height].join()
        loadModel()
        sampleList = isSampleList()
    }
}
