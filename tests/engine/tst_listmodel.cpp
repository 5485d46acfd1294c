// The list model reads every text as the pages' script reader did, and writes what JSON.stringify writes, to the byte.
#include "proxylistmodel.h"
#include "statusfiltermodel.h"

#include <QJSEngine>
#include <QtTest>

class TestListModel : public QObject // moc reads raw strings as plain ones: the cases that use them follow the class
{
    Q_OBJECT
    QJSEngine m_js;
private slots:
    void reading_data();
    void reading();
    void run();
    void profiles();
    void longList() // far past where the script reader crashed; a stored list keeps the first 400,000
    {
        ProxyListModel model;
        QTest::ignoreMessage(QtDebugMsg, "Stored proxy list holds more than 400000 proxies; the rest is left out");
        QVERIFY(model.appendStored('[' + QStringLiteral("{\"host\":\"h\",\"port\":1},").repeated(599999) + QStringLiteral("{}]")));
        QCOMPARE(model.count(), 400000);
    }
};

void TestListModel::reading_data()
{
    QTest::addColumn<QString>("text");
    for (const char *text : { "[]", "[\n    {\n        \"port\": 8080,\n        \"host\": \"localhost\"\n    }\n]", "\xef\xbb\xbf[]", "\t[]\r\n", "[.5]", "[NaN]",
             R"([{"host":"h","port":1,"note":[1,{}],"type":"socks5","user":"u"},{"host":"h","port":1,"type":"http","password":"p\"w"}])",
             R"([{"host":"\"q\\ \u0001\u001f\b\f\n\r\t/ é Прокси \ud83d\ude00","port":"\u00a01\u2028"},{"host":"a","host":"b","user":5}])",
             R"([{"host":5,"port":"x"},{"host":"h","port":" 81 "},{},7,"s",[1],true,{"host":1e21,"port":"0x1F"},{"host":1e-7,"port":"-Infinity"}])",
             R"([{"host":null,"port":"abc"},{"host":{"a":[1]},"port":[1]},{"host":"h","port":-70000.5},{"port":1.5e-7},{"port":1e400}])",
             R"([{"host":"127.0.0.11","port":8080},null,{"host":"x","port":1}])", R"("abc")", "5", "null", R"({"host":"h","port":1})", "not json",
             R"({"length":1e9})", R"({"length":"1","0":{}})", R"({"length":2,"0":{"host":"a","port":1},"1":{"host":"b","port":2}})", "[1,]",
             R"([{"host":"h")", "[1] [2]", "", R"(["\ud800"])", "[{\"host\":\"a\tb\"}]" })
        QTest::newRow(text) << QString::fromUtf8(text);
    QTest::newRow("nested 100000 deep") << QString(100000, QLatin1Char('['));
}

// As the script read, but that a JSON string reads as no rows: a stored list keeps the rows before a fault, an import none.
void TestListModel::reading()
{
    QFETCH(QString, text);
    for (const bool imported : { false, true }) {
        const QVariantMap expected = m_js.evaluate(QStringLiteral(R"js((function (text, imported) {
            function entry(e) {
                var host = e.host, port = typeof e.port === "string" && e.port.trim() !== "" ? Number(e.port) : e.port
                var row = { host: typeof host === "number" || typeof host === "boolean" ? String(host) : typeof host === "string" ? host : "",
                            port: typeof port === "number" && isFinite(port) ? port : 0 }
                if (e.type !== undefined && e.type !== "http") row.type = e.type
                ;["user", "password"].forEach(function(k) { if (typeof e[k] === "string" && e[k] !== "") row[k] = e[k] })
                return row
            }
            var rows = [], ok = true
            try {
                var parsed = JSON.parse(text)
                if (imported && !Array.isArray(parsed)) throw new TypeError("not a list")
                for (var i = 0; typeof parsed !== "string" && i < parsed.length; i++) rows.push(entry(parsed[i]))
            } catch (e) { ok = false; rows = imported ? [] : rows }
            return { ok: ok, count: rows.length, compact: JSON.stringify(rows), indented: JSON.stringify(rows, null, 4) }
        }))js")).call({ text, imported }).toVariant().toMap();
        ProxyListModel model;
        imported ? void(model.importText(text, false)) : void(model.appendStored(text));
        const auto read = ListJson::read(text, imported ? ListJson::Reading::Imported : ListJson::Reading::Stored);
        QCOMPARE(read.error.isEmpty(), expected.value("ok").toBool());
        QCOMPARE(read.entries.size(), expected.value("count").toLongLong()); // those a failed import hands on: none
        QCOMPARE(model.toJson(false), expected.value("compact").toString());
        QCOMPARE(model.toJson(true), expected.value("indented").toString());
    }
}

// A run: the list handed to the probes, results by row (those out of range
// ignored), then alive by time, timeout, dead, dns_fail and the rest, ties kept.
void TestListModel::run()
{
    ProxyListModel model;
    model.appendStored(QStringLiteral(R"([{"host":"a","port":1},{"host":"b","port":2,"type":"socks5","user":"u","password":"p"},)"
                                      R"({"host":"c","port":3},{"host":"d","port":4},{"host":"e","port":5},{"host":"f","port":70000},{"host":"g","port":7}])"));
    const QList<ProxyAddress> list = model.resetForRun();
    QCOMPARE(list[5].port, 70000); // as a list map hands it over: the probe takes the low 16 bits
    QCOMPARE((QStringList { list[1].host, proxyTypeName(list[1].type), list[1].user, list[1].password }), (QStringList { "b", "socks5", "u", "p" }));
    const std::tuple<int, const char *, int> results[] = { { -1, "alive", 1 }, { 7, "alive", 1 }, { 6, "alive", 50 }, { 4, "alive", 90 },
                                                           { 3, "dns_fail", -1 }, { 2, "dead", -1 }, { 1, "timeout", -1 }, { 0, "alive", 50 } };
    for (const auto &[row, status, latency] : results)
        model.applyResult(row, status, "", latency);
    model.applyProfile(6, { { "anonymity", "elite" } }); // an elite proxy before the faster ones of no known level
    StatusFilterModel view; // the grid sorted: the list keeps its order
    view.setSourceModel(&model);
    view.setByOutcome(true);
    QString order;
    for (int i = 0; i < view.rowCount(); ++i)
        order += view.index(i, 0).data(ProxyListModel::HostRole).toString() + view.index(i, 0).data(ProxyListModel::StatusRole).toString().left(2) + ' ';
    QCOMPARE(order, "gal aal eal bti cde ddn fun ");
    // A result belongs to the proxy it tested: a removed row's is dropped, an edited row is untested again.
    model.resetForRun();
    model.remove(1);
    model.setProperty(1, "user", "someone else");
    for (int i = 0; i < 7; ++i)
        model.applyResult(i, i == 4 ? "alive" : "dead", "", 5);
    order.clear();
    for (int i = 0; i < model.count(); ++i)
        order += model.get(i)["host"].toString() + model.get(i)["status"].toString().left(2) + ' ';
    QCOMPARE(order, "ade cun dde eal fde gde ");
    QCOMPARE(model.workingLines(), "e:5\n");
}

// What a run showed of each live proxy: on its row (an auto row takes the type found), in the counts and the exports by
// level, never in the stored list; gone when the row is run again or edited.
void TestListModel::profiles()
{
    ProxyListModel model;
    QCOMPARE(model.importText("a:1\nhttp://b:2\nc:3\nd:4\ne:5\n", false, "auto").value("imported").toInt(), 5);
    model.resetForRun();
    const QVariantMap profiles[] = { { { "type", "socks5" }, { "anonymity", "elite" }, { "exitAddress", "192.0.2.1" }, { "country", "DE" } },
                                     { { "type", "http" }, { "anonymity", "anonymous" }, { "altered", true } },
                                     { { "type", "http" }, { "anonymity", "transparent" }, { "country", "A,\"B\"" } }, {}, { { "altered", false } } };
    for (int i = 0; i < 5; ++i)
        model.applyResult(i, i == 3 ? "dead" : "alive", "", 10 * i), model.applyProfile(i, profiles[i]);
    QCOMPARE(model.get(0).value("exitAddress"), "192.0.2.1");
    QCOMPARE((QList<int> { model.eliteCount(), model.anonymousCount(), model.transparentCount() }), (QList<int> { 1, 1, 1 }));
    QCOMPARE(model.workingLines(), "socks5://a:1\nc:3\nauto://e:5\n");
    QCOMPARE(model.workingLines("anonymous", true), "socks5://a:1\nb:2\n");
    QCOMPARE(model.workingLines("elite"), "socks5://a:1\n");
    QCOMPARE(model.workingCsv("any"), "host,port,type,time in ms,exit address,level,country\r\na,1,socks5,0,192.0.2.1,elite,DE\r\n"
                                      "c,3,http,20,,transparent,\"A,\"\"B\"\"\"\r\ne,5,auto,40,,,\r\n");
    QVERIFY(model.toJson().contains(R"({"host":"a","port":1,"type":"socks5"})") && model.toJson().contains(R"({"host":"d","port":4,"type":"auto"})"));
    model.setProperty(1, "port", 22);
    QVERIFY(!model.get(1).value("altered").toBool() && model.anonymousCount() == 0);
    model.resetForRun();
    QVERIFY(model.get(0).value("anonymity").toString().isEmpty() && model.eliteCount() + model.transparentCount() == 0);
}

QTEST_GUILESS_MAIN(TestListModel)

#include "tst_listmodel.moc"
