#include "proxylines.h"
#include "proxytest.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// Every message while alive: a case demands exactly its lines, naming the file and never the text (credentials).
QStringList s_log;
void keep(QtMsgType, const QMessageLogContext &, const QString &message) { s_log << message; }
struct LogCapture
{
    QtMessageHandler previous = qInstallMessageHandler(keep);
    LogCapture() { s_log.clear(); }
    ~LogCapture() { qInstallMessageHandler(previous); }
};

QStringList failed(const char *what, const QString &path)
{ return { QStringLiteral("Не удалось %1 файл: \"%2\"").arg(QString::fromUtf8(what), path) }; }
bool writeBytes(const QString &path, const QByteArray &bytes)
{ QFile file(path); return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(); }
QStringList entries(const QString &dir)
{ return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); }

// An entry as "type host port user password", the way the tables spell it.
QStringList spelled(const QList<ProxyAddress> &entries)
{
    QStringList spellings;
    for (const ProxyAddress &e : entries)
        spellings << QStringList { proxyTypeName(e.type), e.host, QString::number(e.port), e.user, e.password }.join(u' ');
    return spellings;
}

} // namespace

class FilesTest : public QObject
{
    Q_OBJECT

    ProxyTest m_proxyTest;
    QTemporaryDir m_dir;

private slots:
    // A backend changes nothing about the process: raising the open-file limit is the program's own call, at start.
    void openFileLimitUntouched()
    {
        rlimit lowered {}, after {};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &lowered), 0);
        lowered.rlim_cur = qMin<rlim_t>(lowered.rlim_max - 1, 1024);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
        ProxyTest another;
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &after), 0);
        QCOMPARE(after.rlim_cur, lowered.rlim_cur);
    }

    // A save writes UTF-8 without a mark under the decoded name (the dialog hands over URLs, encoded or not);
    // with credentials the file is its owner's alone, also over an older readable one. A failed save names the
    // file in the log and leaves what was there; a file-size limit (binding root too) fails as a full disk would.
    void save_data()
    {
        QTest::addColumn<QString>("name"); // in a folder holding "old файл" (others may read it) and "adir"
        QTest::addColumn<int>("form"); // 0: a plain path, no credentials; 1: URL, encoded; 2: URL as QML gives it
        QTest::addColumn<rlim_t>("limit");
        QTest::addColumn<bool>("saved");
        QTest::newRow("plain path") << "plain.json" << 0 << RLIM_INFINITY << true;
        QTest::newRow("encoded URL") << "прокси 1.json" << 1 << RLIM_INFINITY << true;
        QTest::newRow("URL as QML gives it, over a readable file") << "old файл" << 2 << RLIM_INFINITY << true;
        for (const char *name : { "missing/list.json", "old файл/list.json", "adir", "" })
            QTest::newRow(*name ? name : "no name") << name << 1 << RLIM_INFINITY << false;
        QTest::newRow("disk full, old file kept") << "old файл" << 1 << rlim_t(4096) << false;
    }

    void save()
    {
        QFETCH(QString, name);
        QFETCH(int, form);
        QFETCH(rlim_t, limit);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        constexpr auto others = QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(writeBytes(dir.filePath("old файл"), "keep") && QDir(dir.path()).mkdir("adir")
                && QFile::setPermissions(dir.filePath("old файл"), QFile::permissions(dir.filePath("old файл")) | others));
        const QString path = name.isEmpty() ? QString() : dir.filePath(name);
        const QString argument = form ? QUrl::fromLocalFile(path).toString(form == 1 ? QUrl::FullyEncoded : QUrl::PrettyDecoded) : path;
        const QString text = "socks5://u:secret@прокси.локально:1\n" + QString(64 * 1024, u'x');
        rlimit unlimited {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small { qMin(limit, unlimited.rlim_cur), unlimited.rlim_max };
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        LogCapture log;
        const bool result = m_proxyTest.saveToFile(argument, text, form != 0);
        setrlimit(RLIMIT_FSIZE, &unlimited);
        std::signal(SIGXFSZ, handler);
        QCOMPARE(result, saved);
        QCOMPARE(s_log, saved ? QStringList() : failed("сохранить", path));
        QStringList expected { "adir", "old файл" };
        if (saved && !expected.contains(name))
            expected << name;
        QCOMPARE(entries(dir.path()), expected);
        QCOMPARE(entries(dir.filePath("adir")), QStringList());
        QFile file(dir.filePath(saved ? name : "old файл"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), saved ? text.toUtf8() : QByteArray("keep"));
        if (saved)
            QCOMPARE(m_proxyTest.loadFromFile(argument), text);
        if (form && saved)
            QCOMPARE(QFile::permissions(path) & (others | QFile::WriteGroup | QFile::WriteOther), QFileDevice::Permissions());
    }

    // A leading byte-order mark chooses the encoding and every CR goes; over 32 MiB (no list comes near) is unreadable.
    void read_data()
    {
        QTest::addColumn<QString>("name"); // in the case's folder, or absolute
        QTest::addColumn<QByteArray>("bytes"); // null: no file is made
        QTest::addColumn<QString>("expected"); // null: unreadable, which the log says
        QTest::newRow("UTF-8 mark") << "a" << QByteArray("\xEF\xBB\xBF[\"\xD0\xB6\"]") << QStringLiteral("[\"ж\"]");
        QTest::newRow("carriage returns") << "a" << QByteArray("[\r\n 1\r\n]\r\na\rb") << QStringLiteral("[\n 1\n]\nab");
        QTest::newRow("UTF-16BE mark") << "a" << QByteArray("\xFE\xFF\0[\0\r\0\n\0]", 10) << QStringLiteral("[\n]");
        QTest::newRow("UTF-32LE mark") << "a" << QByteArray("\xFF\xFE\0\0[\0\0\0", 8) << QStringLiteral("[");
        // U+0D15 before a line feed holds the bytes 0D 0A in UTF-16LE.
        QTest::newRow("UTF-16LE, 0D 0A inside") << "a" << QByteArray("\xFF\xFE\x15\x0D\x0A\0", 6) << QStringLiteral("\u0D15\n");
        // Qt's text stream decodes 16 KiB at a time and lost the "y" after a malformed byte ending the first piece.
        QTest::newRow("malformed at 16 KiB") << "a" << QByteArray(16383, 'x') + "\xEAyz"
                                             << QString(16383, u'x') + QStringLiteral("\uFFFDyz");
        QTest::newRow("32 MiB") << "a" << QByteArray(32 << 20, '\0') << QString(32 << 20, QChar(0));
        QTest::newRow("32 MiB and a byte") << "a" << QByteArray((32 << 20) + 1, '\0') << QString();
        const QString fifo = m_dir.filePath("fifo"); // nobody writes to it: opening it would wait for good
        QVERIFY(mkfifo(QFile::encodeName(fifo), 0600) == 0 || QFile::exists(fifo));
        for (const QString &name : { QStringLiteral("/dev/zero"), QStringLiteral("нет такого.json"), QString(), fifo })
            QTest::newRow(name.isEmpty() ? "no name" : qPrintable(name)) << name << QByteArray() << QString();
    }

    void read()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QString path = name.startsWith(u'/') || name.isEmpty() ? name : m_dir.filePath(name);
        QVERIFY(bytes.isNull() || writeBytes(path, bytes));
        LogCapture log;
        QCOMPARE(m_proxyTest.loadFromFile(path), expected);
        QCOMPARE(s_log, expected.isNull() ? failed("прочитать", path) : QStringList());
        QVERIFY(bytes.isNull() || QFile::remove(path));
    }

    // Skipped lines are named by their numbers, whichever line ends the text uses; a repeated proxy is counted.
    void lineNumbers()
    {
        const ProxyLinesRead read = parseProxyLines(u"x\r\nh:1\r\n\ry\nh:1\n\n#c\nz\rw\nv\nu\n");
        QCOMPARE(read.firstSkipped, (QList<qsizetype> { 1, 4, 8, 9, 10 }));
        QCOMPARE((QList<qsizetype> { read.skipped, read.duplicates }), (QList<qsizetype> { 6, 1 }));
    }

    // The plain-text list reader (lists_lines runs these).
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("skipped");
        QTest::newRow("every form")
            << "proxy.example:8080\n[::1]:1080\nhttp://h:1\nSOCKS4://h:2\nsocks5h://h:4/\n"
               "socks5://us%40er:p%3Ass%2fw@h:1\nhttp://u@h:2\nh:3:user:pa:ss\nsocks4://:pw@h:4"
            << QStringList { "http proxy.example 8080  ", "http ::1 1080  ", "http h 1  ", "socks4 h 2  ", "socks5 h 4  ",
                             "socks5 h 1 us@er p:ss/w", "http h 2 u ", "http h 3 user pa:ss", "socks4 h 4  pw" } << 0;
        QTest::newRow("blank, comments, BOM, CR, white space")
            << "\xef\xbb\xbf\ufeff 127.0.0.1:3128 \r\n\r\n# note\n   \t\n  #x:1\r" << QStringList { "http 127.0.0.1 3128  " } << 0;
        QTest::newRow("duplicates kept once, first time") << "h:1\nh:1\nhttp://h:1\nsocks5://h:1\nh:1:u:a\nh:1:u:b"
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

    // What Copy working writes reads back as the same list; what no line can carry is left out, never written broken.
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

QTEST_GUILESS_MAIN(FilesTest)
#include "tst_files.moc"
