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

var types = ["http", "socks4", "socks5"]

function text(value) {
    if (typeof value === "number" || typeof value === "boolean")
        return String(value)
    return typeof value === "string" ? value : ""
}

// The row for one element of a parsed list. Members of another type become
// what the rows hold: a host, user and password are text, a port a number (0
// when there is none), so that every row has the same role types. A null or
// missing element throws a TypeError, as reading its members does; so does an
// element of a type the engine does not speak, since its row could only fail.
function entry(element) {
    var host = text(element.host)
    var port = element.port
    if (typeof port === "string" && port.trim() !== "")
        port = Number(port)
    if (typeof port !== "number" || !isFinite(port))
        port = 0
    var type = element.type === undefined ? "http" : element.type
    if (types.indexOf(type) < 0)
        throw new TypeError("a proxy entry of an unknown type")
    return { host: host, port: port, type: type, user: text(element.user), password: text(element.password),
             status: "unknown", response: "" }
}

// The element written for a row: host and port first, the other members only
// when they are not the default, so that a plain list is written as it always was.
function element(row) {
    var written = { host: row.host, port: row.port }
    if (row.type && row.type !== "http")
        written.type = row.type
    if (row.user)
        written.user = row.user
    if (row.password)
        written.password = row.password
    return written
}

function isPlain(row) {
    return (!row.type || row.type === "http") && !row.user && !row.password
}

// Two rows for the same proxy, as far as Paste is concerned.
function key(row) {
    return (row.type || "http") + "\x1f" + row.host + "\x1f" + row.port + "\x1f" + (row.user || "")
}

// Import reads the proxy list JSON from a text that starts with "[", and
// plain-text lines from any other.
function isJsonList(text) {
    return /^\s*\[/.test(text)
}

function holdsPassword(json) {
    return json.indexOf("\"password\":") >= 0
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
