#include "proxylines.h"

#include <QtTest>

namespace {

// An entry as "type host port user password", the way the tables spell it.
QStringList spelled(const QList<ProxyAddress> &entries)
{
    QStringList spellings;
    for (const ProxyAddress &e : entries)
        spellings << QStringList { proxyTypeName(e.type), e.host, QString::number(e.port), e.user, e.password }.join(u' ');
    return spellings;
}

} // namespace

Q_DECLARE_METATYPE(ProxyAddress)

class LinesTest : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("skipped");

        QTest::newRow("every form")
            << "proxy.example:8080\n[::1]:1080\nhttp://h:1\nSOCKS4://h:2\nsocks5h://h:4/\n"
               "socks5://us%40er:p%3Ass%2fw@h:1\nhttp://u@h:2\nh:3:user:pa:ss\nsocks4://:pw@h:4"
            << QStringList { "http proxy.example 8080  ", "http ::1 1080  ", "http h 1  ", "socks4 h 2  ", "socks5 h 4  ",
                             "socks5 h 1 us@er p:ss/w", "http h 2 u ", "http h 3 user pa:ss", "socks4 h 4  pw" }
            << 0;
        QTest::newRow("blank, comments, BOM, CR, white space")
            << "\xef\xbb\xbf\ufeff 127.0.0.1:3128 \r\n\r\n# note\n   \t\n  #x:1\r" << QStringList { "http 127.0.0.1 3128  " } << 0;
        QTest::newRow("duplicates kept once, first time")
            << "h:1\nh:1\nhttp://h:1\nsocks5://h:1\nh:1:u:a\nh:1:u:b"
            << QStringList { "http h 1  ", "socks5 h 1  ", "http h 1 u a" } << 0;
        QTest::newRow("lines that do not read")
            << "h\nh:\n:80\nh:0\nh:65536\nh:8o\nh :1\nhttps://h:1\n://h:1\nsocks5://h\nsocks5://h:1:u:p\nh:1:u\n"
               "socks5://@h:1\nsocks5://u:%zz@h:1\nh:1:u\x01" ":p\n[::1:80\n[1.2.3.4]:80\n::1:80\nh/x:1\nu@h:1\nh:1 # note\n"
               + QString::fromLatin1("\0\x01\xff:\x80:1\nok:65535", 16)
            << QStringList { "http ok 65535  " } << 22;
        QTest::newRow("lengths")
            << QString(253, u'a') + ":1\n" + QString(254, u'a') + ":1\nh:1:" + QString(256, u'u') + ":p\nh:2:"
                   + QString(255, u'u') + ":p\n" + QString(ProxyLineLimits::maxLineLength, u'a') + ":1"
            << QStringList { "http " + QString(253, u'a') + " 1  ", "http h 2 " + QString(255, u'u') + " p" } << 3;
    }

    void parse()
    {
        QFETCH(QString, text);
        const ProxyLinesRead read = parseProxyLines(text);
        QTEST(spelled(read.entries), "entries");
        QTEST(int(read.skipped), "skipped");
    }

    // The lines Copy working writes read back as the same list; what a row may
    // hold but no line can carry is left out, never written broken.
    void format_data()
    {
        QTest::addColumn<QList<ProxyAddress>>("entries");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("unwritable");

        QTest::newRow("types and credentials")
            << QList<ProxyAddress> { { "127.0.0.1", 3128 }, { "::1", 80 }, { "h", 1, ProxyType::Socks5 },
                                     { "h", 2, ProxyType::Socks4, "u" }, { "h", 3, ProxyType::Http, "u@x", "p:ä/%" },
                                     { "h", 4, ProxyType::Socks5, QStringLiteral("\uFEFFu"), "pw" } }
            << "127.0.0.1:3128\n[::1]:80\nsocks5://h:1\nsocks4://u@h:2\nhttp://u%40x:p%3A%C3%A4%2F%25@h:3\n"
               "socks5://%EF%BB%BFu:pw@h:4\n" << 0;
        QTest::newRow("unwritable rows left out")
            << QList<ProxyAddress> { { "", 1 }, { "h", 0 }, { "a\nb", 1 }, { "h:1", 2 }, { "ok", 3 } } << "ok:3\n" << 4;
        // The longest line the writer makes stays within what the reader takes.
        const QString longest = QString(253, u'a'), euros = QString(255, u'€'), encoded = QString("%E2%82%AC").repeated(255);
        QTest::newRow("longest line") << QList<ProxyAddress> { { longest, 65535, ProxyType::Socks5, euros, euros } }
                                      << "socks5://" + encoded + ":" + encoded + "@" + longest + ":65535\n" << 0;
    }

    void format()
    {
        QFETCH(QList<ProxyAddress>, entries);
        QFETCH(QString, text);
        QFETCH(int, unwritable);
        QCOMPARE(formatProxyLines(entries), text);
        QCOMPARE(spelled(parseProxyLines(text).entries), spelled(entries.mid(unwritable)));
    }
};

QTEST_GUILESS_MAIN(LinesTest)
#include "tst_lines.moc"
