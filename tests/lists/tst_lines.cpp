#include "proxylines.h"

#include <QtTest>

namespace {

// An entry as "type host port user password", the way the tables spell it.
QString spelled(const ProxyAddress &entry)
{
    return QStringList { proxyTypeName(entry.type), entry.host, QString::number(entry.port), entry.user,
                         entry.password }.join(u' ');
}

ProxyAddress entry(const QString &spelling)
{
    const QStringList parts = spelling.split(u' ');
    return { parts.value(1), parts.value(2).toInt(), *proxyTypeFromName(parts.value(0)), parts.value(3), parts.value(4) };
}

} // namespace

class LinesTest : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void format_data();
    void format();
};

void LinesTest::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("skipped");

    const QString h = QStringLiteral("http 127.0.0.1 3128  ");
    QTest::newRow("host:port") << "127.0.0.1:3128" << QStringList { h } << 0;
    QTest::newRow("names, IPv6, every type")
        << "proxy.example:8080\n[::1]:1080\nhttp://h:1\nSOCKS4://h:2\nsocks5://h:3\nsocks5h://h:4/\n[2001:db8::1]:5"
        << QStringList { "http proxy.example 8080  ", "http ::1 1080  ", "http h 1  ", "socks4 h 2  ", "socks5 h 3  ",
                         "socks5 h 4  ", "http 2001:db8::1 5  " }
        << 0;
    QTest::newRow("credentials") << "socks5://us%40er:p%3Ass%2fw@h:1\nhttp://u@h:2\nh:3:user:pa:ss\nsocks4://:pw@h:4"
                                 << QStringList { "socks5 h 1 us@er p:ss/w", "http h 2 u ", "http h 3 user pa:ss",
                                                  "socks4 h 4  pw" }
                                 << 0;
    QTest::newRow("blank, comments, BOM, CR, white space")
        << "\xef\xbb\xbf\ufeff 127.0.0.1:3128 \r\n\r\n# note\n   \t\n  #x:1\r" << QStringList { h } << 0;
    QTest::newRow("duplicates kept once, first time")
        << "h:1\nh:1\nhttp://h:1\nsocks5://h:1\nh:1:u:a\nh:1:u:b\nh:2"
        << QStringList { "http h 1  ", "socks5 h 1  ", "http h 1 u a", "http h 2  " } << 0;
    QTest::newRow("lines that do not read")
        << "h\nh:\n:80\nh:0\nh:65536\nh:123456\nh:8o\nh :1\nhttps://h:1\nftp://h:1\n://h:1\nsocks5://h\n"
           "socks5://h:1:u:p\nh:1:u\nh:1::\nsocks5://@h:1\nsocks5://u:%zz@h:1\nh:1:u\x01" ":p\n[::1:80\n[1.2.3.4]:80\n"
           "[::1]\n::1:80\nh/x:1\nu@h:1\n{\"host\": \"h\", \"port\": 1}\nh:1 # note\n"
           + QString(ProxyLineLimits::maxLineLength, u'a') + ":1\n" + QString(254, u'a') + ":1\nok:65535"
        << QStringList { "http ok 65535  " } << 28;
    QTest::newRow("253-character host name") << QString(253, u'a') + ":1" << QStringList { "http " + QString(253, u'a') + " 1  " } << 0;
    QTest::newRow("credentials too long")
        << "h:1:" + QString(256, u'u') + ":p\nh:2:" + QString(255, u'u') + ":p" << QStringList { "http h 2 " + QString(255, u'u') + " p" } << 1;
    QTest::newRow("empty") << QString() << QStringList() << 0;
    QTest::newRow("binary") << QString::fromLatin1("\0\x01\xff:\x80:1\n\0:1", 11) << QStringList() << 2;
}

void LinesTest::parse()
{
    QFETCH(QString, text);
    QFETCH(QStringList, entries);
    QFETCH(int, skipped);
    const ProxyLinesRead read = parseProxyLines(text);
    QStringList got;
    for (const ProxyAddress &e : read.entries)
        got << spelled(e);
    QCOMPARE(got, entries);
    QCOMPARE(read.skipped, skipped);
}

// The lines Copy working writes, and the same list read back from them.
void LinesTest::format_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("readBack");

    QTest::newRow("plain HTTP") << QStringList { "http 127.0.0.1 3128  ", "http ::1 80  " } << "127.0.0.1:3128\n[::1]:80\n"
                                << QStringList {};
    QTest::newRow("types and credentials")
        << QStringList { "socks5 h 1  ", "socks4 h 2 u ", "http h 3 u@x p:ä/%", "socks5 h 4  pw" }
        << "socks5://h:1\nsocks4://u@h:2\nhttp://u%40x:p%3A%C3%A4%2F%25@h:3\nsocks5://:pw@h:4\n" << QStringList {};
    // What a row may hold but no line can carry is left out, never written broken.
    QTest::newRow("unwritable rows left out")
        << QStringList { "http  1  ", "http h 0  ", "http a\nb 1  ", "http h:1 2  ", "http ok 3  " } << "ok:3\n"
        << QStringList { "http ok 3  " };
    QTest::newRow("none") << QStringList {} << QString() << QStringList {};
}

void LinesTest::format()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, text);
    QFETCH(QStringList, readBack);
    QList<ProxyAddress> list;
    for (const QString &spelling : entries)
        list << entry(spelling);
    QCOMPARE(formatProxyLines(list), text);
    QStringList got;
    for (const ProxyAddress &e : parseProxyLines(text).entries)
        got << spelled(e);
    QCOMPARE(got, readBack.isEmpty() && !text.isEmpty() ? entries : readBack);
}

QTEST_GUILESS_MAIN(LinesTest)
#include "tst_lines.moc"
