// libFuzzer target: the proxy list import as the settings page runs it. The
// reader is qml/proxylist.js itself, loaded by a QML engine from the source
// tree; the input is the text that loadFromFile would hand to the page.
//
// The script engine is not instrumented, so the path each input takes through
// the reader (the error, or the kinds of host and port it met) is fed back to
// libFuzzer as extra counters, one for each kind of step.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((used, section("__libfuzzer_extra_counters"))) uint8_t pathCounters[4096];

// What the page's importFrom does with a text, on a list that holds one
// sentinel row. Returns the steps taken, "ok" or "failed" first (the page
// logs the error), or "broken: ..." when the outcome breaks a rule of the page.
const char harness[] = R"(
import QtQml
import "proxylist.js" as ProxyList

QtObject {
    property ListModel model: ListModel {}

    function kind(value) {
        if (value === null) return "null"
        if (Array.isArray(value)) return "array"
        if (typeof value === "string") return value.trim() === "" ? "blank" : isNaN(Number(value)) ? "text" : "numeric"
        if (typeof value === "number") return isFinite(value) ? (value === Math.floor(value) ? "int" : "real") : "nan"
        return typeof value
    }

    function importText(text) {
        model.clear()
        model.append({ host: "sentinel", port: 1, status: "alive", response: "kept" })
        var entries
        try {
            entries = ProxyList.read(text)
            model.clear()
            for (var i = 0; i < entries.length; i++)
                model.append(entries[i])
        } catch (e) {
            var row = model.get(0)
            if (model.count !== 1 || row.host !== "sentinel" || row.port !== 1 || row.status !== "alive" || row.response !== "kept")
                return "broken: a failed import changed the list"
            return ["failed", String(e)]
        }
        if (model.count !== entries.length)
            return "broken: " + model.count + " rows for " + entries.length + " entries"
        var parsed = JSON.parse(text)
        var steps = ["ok", "rows " + Math.min(model.count, 3)]
        for (var j = 0; j < model.count; j++) {
            var r = model.get(j)
            if (typeof r.host !== "string" || typeof r.port !== "number" || !isFinite(r.port)
                    || r.status !== "unknown" || r.response !== "")
                return "broken: row " + j + " holds " + JSON.stringify(r)
            var element = parsed[j]
            steps.push(kind(element) + " " + kind(element.host) + "/" + kind(element.port))
        }
        return steps
    }
}
)";

QObject *reader = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static int qtArgc = 1;
    static char *qtArgv[] = { (*argv)[0], nullptr };
    (void)argc;
    qputenv("QT_LOGGING_RULES", "qml.debug=false;js.debug=false");
    static QCoreApplication app(qtArgc, qtArgv);
    static QQmlEngine engine;
    QQmlComponent component(&engine);
    // Resolved against the documents' folder, so that "proxylist.js" is the program's own.
    component.setData(harness, QUrl::fromLocalFile(QStringLiteral(QUILLFEN_QML_DIR "/FuzzImport.qml")));
    reader = component.create();
    if (!reader) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QVariant outcome;
    if (!QMetaObject::invokeMethod(reader, "importText", Q_RETURN_ARG(QVariant, outcome), Q_ARG(QVariant, text)))
        std::abort();
    const QStringList steps = outcome.toStringList();
    if (steps.value(0) != QLatin1String("ok") && steps.value(0) != QLatin1String("failed")) {
        std::fprintf(stderr, "%s\n", qPrintable(outcome.toString()));
        std::abort();
    }
    for (const QString &step : steps) {
        const QByteArray hash = QCryptographicHash::hash(step.toUtf8(), QCryptographicHash::Md5);
        pathCounters[(uint8_t(hash[0]) << 8 | uint8_t(hash[1])) % sizeof pathCounters] = 1;
    }
    return 0;
}
