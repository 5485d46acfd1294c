// The proxy list model against the script engine it replaces: the JSON it
// writes is JSON.stringify's to the byte, and it reads every text as the
// pages' script reader read it.
#include "proxylistmodel.h"

#include <QJSEngine>
#include <QSignalSpy>
#include <QtTest>

class TestListModel : public QObject
{
    Q_OBJECT

    QJSEngine m_js;

    // The script reader the pages had, with a JSON string read as no rows.
    static constexpr auto reference = "\n"
"        (function (text, imported) {\n"
"            function entry(element) {\n"
"                var host = element.host, port = element.port\n"
"                if (typeof host === \"number\" || typeof host === \"boolean\") host = String(host)\n"
"                else if (typeof host !== \"string\") host = \"\"\n"
"                if (typeof port === \"string\" && port.trim() !== \"\") port = Number(port)\n"
"                if (typeof port !== \"number\" || !isFinite(port)) port = 0\n"
"                return [host, port]\n"
"            }\n"
"            var rows = []\n"
"            try {\n"
"                var parsed = JSON.parse(text)\n"
"                if (imported && !Array.isArray(parsed)) throw new TypeError(\"not a list\")\n"
"                if (typeof parsed !== \"string\")\n"
"                    for (var i = 0; i < parsed.length; i++) rows.push(entry(parsed[i]))\n"
"            } catch (e) {\n"
"                return { rows: imported ? [] : rows, ok: false }\n"
"            }\n"
"            return { rows: rows, ok: true }\n"
"        })";

    QVariantMap scriptRead(const QString &text, bool imported)
    {
        return m_js.evaluate(QString::fromLatin1(reference)).call({ text, imported }).toVariant().toMap();
    }

private slots:
    void reading_data()
    {
        QTest::addColumn<QString>("text");
        const char *texts[] = {
            "[]", "[{\"host\":\"127.0.0.1\",\"port\":3128},{\"host\":\"127.0.0.1\",\"port\":3128}]",
            "[\n    {\n        \"port\": 8080,\n        \"host\": \"localhost\"\n    }\n]",
            "[{\"host\":\"h\",\"port\":1,\"note\":[1,{}],\"type\":\"socks5\",\"user\":\"u\"}]",
            "[{\"host\":5,\"port\":\"x\"},{\"host\":\"h\",\"port\":\" 81 \"},{},7,\"s\",[1],true]",
            "[{\"host\":1.5,\"port\":\"0x1F\"},{\"host\":1e21,\"port\":\"1e3\"},{\"host\":1e-7,\"port\":\"-Infinity\"},"
            "{\"host\":-0.000001,\"port\":\"0b101\"},{\"host\":123456789012345680000,\"port\":\".5\"},{\"host\":true,\"port\":\"5.\"}]",
            "[{\"host\":null,\"port\":\"abc\"},{\"host\":{\"a\":[1]},\"port\":[1]},{\"host\":\"h\",\"port\":-70000.5},{\"port\":1e400}]",
            "[{\"host\":\"\\\"q\\\\ \\u0001\\n\\u00e9 Прокси \\ud83d\\ude00\",\"port\":\"\\u00a01\\u2028\"},{\"host\":\"a\",\"host\":\"b\"}]",
            "[{\"host\":\"127.0.0.11\",\"port\":8080},null,{\"host\":\"x\",\"port\":1}]",
            "\"abc\"", "5", "true", "null", "{}", "{\"host\":\"h\",\"port\":1}", "{\"length\":1e9}", "{\"length\":0}",
            "{\"length\":2,\"0\":{\"host\":\"a\",\"port\":1},\"1\":{\"host\":\"b\",\"port\":2}}", "{\"length\":\"1\",\"0\":{}}",
            "not json", "[{\"host\":\"h\"", "[1] [2]", "", "  ", "[1,]", "[\"\\ud800\"]", "[{\"host\":\"a\tb\"}]",
            "[{\"host\":\"\\u0000\",\"port\":-0}]", "[{\"port\":1E+2},{\"port\":01}]", "\xef\xbb\xbf[]", "[{\"host\":\"\\x41\"}]",
            "[1.]", "[.5]", "[+1]", "[-]", "[1e]", "[NaN]", "[tru]", "[1,2,]", "{\"a\":1,}", "[\"a\" \"b\"]", "{\"a\" 1}", "[1]\n", "\t[]\r\n",
            "[0x10]", "[1e999]", "{\"length\":1,\"0\":{},\"0\":null}", "[{\"host\":\"a\",\"host\":5}]",
        };
        for (const char *text : texts)
            QTest::newRow(text) << QString::fromUtf8(text);
        QTest::newRow("nested 100000 deep") << QString(100000, QLatin1Char('['));
    }

    // Both readers, row for row and fault for fault; a stored reader keeps the
    // rows before a fault, an import keeps none.
    void reading()
    {
        QFETCH(QString, text);
        for (const auto reading : { ProxyListModel::Reading::Stored, ProxyListModel::Reading::Imported }) {
            const bool imported = reading == ProxyListModel::Reading::Imported;
            const QVariantMap expected = scriptRead(text, imported);
            const ProxyListModel::ReadResult read = ProxyListModel::read(text, reading);
            QVariantList rows;
            for (const ProxyListModel::Entry &entry : read.entries)
                rows.append(QVariant(QVariantList { entry.proxy.host, entry.port }));
            QCOMPARE(QJsonValue::fromVariant(rows), QJsonValue::fromVariant(expected.value("rows")));
            QCOMPARE(read.error.isEmpty(), expected.value("ok").toBool());
        }
    }

    // A list read back and written again is the text JSON.stringify wrote, in
    // both layouts; the members beyond host and port follow only when not the default.
    void writing()
    {
        const QString data = QStringLiteral("[\n"
"            {\"host\": \"127.0.0.1\", \"port\": 3128}, {\"host\": \"\\\"q\\\\ \\u0001\\u001f\\b\\f\\n\\r\\t/ é Прокси 😀\", \"port\": 65535},\n"
"            {\"host\": \"\", \"port\": 0}, {\"host\": \"h\", \"port\": -70000.5}, {\"host\": \"h\", \"port\": 1.5e-7},\n"
"            {\"host\": \"s\", \"port\": 1080, \"type\": \"socks5\", \"user\": \"ü\", \"password\": \"p\\\"w\"},\n"
"            {\"host\": \"s\", \"port\": 1081, \"type\": \"socks4\"}, {\"host\": \"h\", \"port\": 1, \"password\": \"x\"}]");
        QJSValue list = m_js.evaluate(QStringLiteral("(") + data + QLatin1Char(')'));
        QVERIFY(!list.isError());
        const QJSValue stringify = m_js.evaluate(QStringLiteral("(function (d, i) { return i ? JSON.stringify(d, null, 4) : JSON.stringify(d) })"));
        const QString compact = stringify.call({ list, false }).toString(), indented = stringify.call({ list, true }).toString();
        for (const QString &source : { compact, indented }) {
            ProxyListModel model;
            QVERIFY(model.appendStored(source));
            QCOMPARE(model.toJson(false), compact);
            QCOMPARE(model.toJson(true), indented);
        }
        QCOMPARE(ProxyListModel().toJson(true), QStringLiteral("[]"));
    }

    // Far past where the script reader crashed.
    void longList()
    {
        ProxyListModel model;
        QVERIFY(model.appendStored(QLatin1Char('[') + QStringLiteral("{\"host\":\"h\",\"port\":1},").repeated(599999) + QStringLiteral("{}]")));
        QCOMPARE(model.count(), 600000);
        QCOMPARE(model.get(599999).value("port").toInt(), 0);
    }

    // A run: reset with the list for testAll, results, counts, the end of a
    // cancelled run, and the outcome order.
    void run()
    {
        ProxyListModel model;
        model.appendEntries({ QVariantMap { { "host", "a" }, { "port", 1 }, { "status", "alive" }, { "response", "old" } },
                              QVariantMap { { "host", "b" }, { "port", 2 }, { "type", "socks5" }, { "user", "u" }, { "password", "p" } },
                              QVariantMap { { "host", "c" }, { "port", 3 } }, QVariantMap { { "host", "d" }, { "port", 4 } },
                              QVariantMap { { "host", "e" }, { "port", 5 } }, QVariantMap { { "host", "f" }, { "port", 70000 } } });
        QCOMPARE(model.aliveCount(), 1);
        const QList<ProxyAddress> list = model.resetForRun();
        QCOMPARE(list.size(), 6);
        QCOMPARE(list[5].port, 70000); // as a list map hands it over: the probe takes the low 16 bits
        QCOMPARE((QStringList { list[1].host, QString::number(list[1].port), proxyTypeName(list[1].type), list[1].user, list[1].password }),
                 (QStringList { "b", "2", "socks5", "u", "p" }));
        QCOMPARE(model.get(0).value("status").toString(), "unknown");
        QCOMPARE(model.get(0).value("response").toString(), "");
        QSignalSpy counts(&model, &ProxyListModel::countsChanged);
        for (int i = 0; i < 6; ++i)
            model.applyResult(i, "testing", "");
        model.applyResult(6, "alive", "x");
        model.applyResult(-1, "alive", "x");
        model.applyResult(4, "alive", "slow", 90);
        model.applyResult(3, "dns_fail", "");
        model.applyResult(2, "dead", "");
        model.applyResult(1, "timeout", "");
        model.applyResult(0, "alive", "fast", 10);
        QCOMPARE(counts.count(), 11);
        QCOMPARE((QList<int> { model.aliveCount(), model.deadCount(), model.dnsFailCount(), model.testingCount() }), (QList<int> { 2, 2, 1, 1 }));
        model.stopTesting();
        QCOMPARE(model.testingCount(), 0);
        model.sortByOutcome();
        QString order;
        for (int i = 0; i < model.count(); ++i)
            order += model.get(i).value("host").toString() + model.get(i).value("status").toString().left(2) + ' ';
        QCOMPARE(order, "aal eal bti cde ddn fun ");
        model.remove(0, 2);
        QCOMPARE(model.aliveCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestListModel)

#include "tst_listmodel.moc"
