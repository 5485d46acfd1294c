pragma Singleton
import QtQuick

// Choices both pages follow: which working proxies Copy working and Export
// working take, and the type of imported lines that name none.
QtObject {
    property string workingLevel: "any"      // "any", "anonymous" (or better), "elite"
    property bool includeAltered: false      // proxies that changed the target's answer too
    property string untypedType: "http"      // "http", "socks4", "socks5", "auto"
}
