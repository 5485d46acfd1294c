.pragma library

// Reading the proxy list JSON back into rows of the proxy list model. The main
// window (the stored list) and the settings page (Import) share it; the import
// fuzzer runs this very file.

// The most commas a proxy list text may hold. The script engine's JSON reader
// keeps every element of an unfinished array on its script stack, and Qt 6.4
// crashes once that stack is full (from about 530,000 elements of one array
// on). Every element of an array but the first follows a comma, so a text
// with fewer commas cannot come near that; a list of 200,000 proxies fits.
var maxCommas = 400000

// JSON.parse, for a text that cannot overrun the reader: throws a RangeError
// for more than maxCommas commas (counted inside strings too), before parsing.
function parse(text) {
    var commas = 0
    for (var at = text.indexOf(","); at !== -1; at = text.indexOf(",", at + 1)) {
        if (++commas > maxCommas)
            throw new RangeError("more than " + maxCommas + " commas, too long for a proxy list")
    }
    return JSON.parse(text)
}

// The row for one element of a parsed list. Members of another type become
// what the rows hold: a host is text, a port a number (0 when there is none),
// so that every row has the same role types. A null or missing element throws
// a TypeError, as reading its members does. The row carries every role the
// pages write (latency: -1, no time yet), since a view learns a list model's
// roles only once.
function entry(element) {
    var host = element.host
    var port = element.port
    if (typeof host === "number" || typeof host === "boolean")
        host = String(host)
    else if (typeof host !== "string")
        host = ""
    if (typeof port === "string" && port.trim() !== "")
        port = Number(port)
    if (typeof port !== "number" || !isFinite(port))
        port = 0
    return { host: host, port: port, status: "unknown", response: "", latency: -1 }
}

// The rows of a whole proxy list file, read before anything is changed: throws
// when the text does not parse, is not a list, or an element is null.
function read(text) {
    var parsed = parse(text)
    if (!Array.isArray(parsed))
        throw new TypeError("a proxy list must be a JSON array")
    var entries = []
    for (var i = 0; i < parsed.length; i++)
        entries.push(entry(parsed[i]))
    return entries
}
