// ProxyTest as an object: defaults, setters, and the meta-object surface the pages use.
#include "platformnet.h"
#include "proxytest.h"

#include <QMetaMethod>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

class TstObject : public QObject
{
    Q_OBJECT
private slots:
    void defaults()
    {
        ProxyTest pt;
        const QUrl url(pt.targetUrl());
        QCOMPARE(url.scheme(), QStringLiteral("https"));
        QCOMPARE(url.path(), QStringLiteral("/test.php"));
        QVERIFY(!url.host().isEmpty());
        QCOMPARE(pt.avoidCache(), true);
        QCOMPARE(pt.timeoutMs(), 15000);
    }

    // Each change signal fires once per real change, after the new value is stored.
    void setters()
    {
        ProxyTest pt;
        QStringList seen;
        connect(&pt, &ProxyTest::targetUrlChanged, [&] { seen << "url:" + pt.targetUrl(); });
        connect(&pt, &ProxyTest::avoidCacheChanged, [&] { seen << QStringLiteral("cache:%1").arg(pt.avoidCache()); });
        connect(&pt, &ProxyTest::timeoutMsChanged, [&] { seen << QStringLiteral("ms:%1").arg(pt.timeoutMs()); });
        connect(&pt, &ProxyTest::expectedTextChanged, [&] { seen << "text:" + pt.expectedText(); });

        pt.setTargetUrl(pt.targetUrl());
        pt.setAvoidCache(true);
        pt.setTimeoutMs(15000);
        pt.setExpectedText(QString());
        QVERIFY(seen.isEmpty());

        pt.setTargetUrl("http://a/test.php");
        pt.setTargetUrl("http://a/test.php");
        pt.setTargetUrl("http://A/test.php");
        pt.setTargetUrl(" http://A/test.php ");
        pt.setTargetUrl("");
        pt.setTargetUrl(QString());
        pt.setAvoidCache(false);
        pt.setAvoidCache(false);
        pt.setTimeoutMs(0);
        pt.setTimeoutMs(-5);
        pt.setTimeoutMs(-5);
        QVERIFY(pt.setProperty("timeoutMs", 1000));
        QVERIFY(pt.setProperty("timeoutMs", 1000));
        QVERIFY(pt.setProperty("expectedText", "Ok") && pt.setProperty("expectedText", "Ok"));
        QCOMPARE(seen, QStringList({ "url:http://a/test.php", "url:http://A/test.php", "url: http://A/test.php ",
                                     "url:", "cache:0", "ms:0", "ms:-5", "ms:1000", "text:Ok" }));
    }

    // A link-local proxy's scope reaches connect as an interface index, named or numeric.
    void scopeIndex()
    {
        const int lo = QNetworkInterface::interfaceFromName("lo").index();
        QVERIFY(lo > 0);
        for (const auto &[address, index] : { std::pair<QString, int> { "fe80::1%lo", lo }, { "fe80::1%7", 7 },
                                              { "fe80::1", 0 }, { "fe80::1%nosuch0", 0 } })
            QCOMPARE(PlatformNet::scopeIndex(QHostAddress(address)), quint32(index));
    }

    void metaObject()
    {
        ProxyTest pt;
        const QMetaObject *mo = pt.metaObject();
        const int full = mo->indexOfSignal("proxyResult(int,bool,QString,QString,QString)");
        QVERIFY(full >= 0);
        QCOMPARE(mo->method(full).parameterNames(),
                 QByteArrayList({ "index", "alive", "info", "errorMsg", "status" }));
        QCOMPARE(mo->method(full + 1).methodSignature(), QByteArray("proxyResult(int,bool,QString,QString)"));
        QCOMPARE(mo->method(full + 2).methodSignature(), QByteArray("proxyResult(int,bool,QString)"));
        QVERIFY(mo->method(full + 2).attributes() & QMetaMethod::Cloned);

        // The shorter forms emit the full signal with empty texts.
        QSignalSpy spy(&pt, &ProxyTest::proxyResult);
        QVERIFY(QMetaObject::invokeMethod(&pt, "proxyResult", Q_ARG(int, 3), Q_ARG(bool, true), Q_ARG(QString, "x")));
        QVERIFY(QMetaObject::invokeMethod(&pt, "proxyResult", Q_ARG(int, 4), Q_ARG(bool, false), Q_ARG(QString, ""),
                                          Q_ARG(QString, "e")));
        QCOMPARE(QList<QVariantList>(spy), QList<QVariantList>({ { 3, true, "x", "", "" }, { 4, false, "", "e", "" } }));

        for (const char *sig : { "setTargetUrl(QString)", "setAvoidCache(bool)", "setTimeoutMs(int)",
                                 "testAll(QVariantList)", "cancelAll()", "saveToFile(QString,QString)",
                                 "loadFromFile(QString)" })
            QVERIFY2(mo->indexOfMethod(sig) >= 0
                         && mo->method(mo->indexOfMethod(sig)).methodType() == QMetaMethod::Method, sig);
    }
};

QTEST_GUILESS_MAIN(TstObject)
#include "tst_object.moc"
