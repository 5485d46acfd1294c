#include "proxylines.h"
#include "proxytest.h"

#include <QDir>
#include <QSettings>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// Records every message while alive, so a case can demand exactly the log
// lines it expects, or none.
class LogCapture
{
public:
    LogCapture() { s_lines.clear(); m_previous = qInstallMessageHandler(&LogCapture::record); }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QStringList lines() const { return s_lines; }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        const char *kind = type == QtDebugMsg ? "debug" : "other";
        s_lines << QStringLiteral("%1 %2 %3").arg(kind, context.category, message);
    }
    static inline QStringList s_lines;
    QtMessageHandler m_previous;
};

QString saveLine(const QString &path)
{
    return QStringLiteral("debug default Не удалось сохранить файл: \"%1\"").arg(path);
}

QString loadLine(const QString &path)
{
    return QStringLiteral("debug default Не удалось прочитать файл: \"%1\"").arg(path);
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class FilesTest : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void emptyPath();
    void saveFailsCleanly_data();
    void saveFailsCleanly();
    void failedWriteKeepsOldFile();
    void overwriteAndEmptyText();
    void readDecoding_data();
    void readDecoding();
    void readMissingFile();
    void readSizeLimit_data();
    void readSizeLimit();
    void credentialsStayPrivate_data();
    void credentialsStayPrivate();

private:
    ProxyTest m_proxyTest;
    QTemporaryDir m_dir;
};

void FilesTest::roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("argument"); // how the page would name the file
    QTest::addColumn<QString>("encoded"); // must appear in the argument

    const auto url = [this](const QString &name, QUrl::ComponentFormattingOptions format) {
        return QUrl::fromLocalFile(m_dir.filePath(name)).toString(format);
    };
    QTest::newRow("spaces, encoded URL") << "my proxies.json" << url("my proxies.json", QUrl::FullyEncoded) << "my%20proxies";
    QTest::newRow("cyrillic, encoded URL") << "прокси 1.json" << url("прокси 1.json", QUrl::FullyEncoded) << "%D0%BF%D1%80";
    QTest::newRow("cyrillic, URL as QML gives it") << "прокси 2.json" << url("прокси 2.json", QUrl::PrettyDecoded) << "file:///";
    QTest::newRow("plain path") << "plain.json" << m_dir.filePath("plain.json") << "/plain.json";
}

void FilesTest::roundTrip()
{
    QFETCH(QString, name);
    QFETCH(QString, argument);
    QFETCH(QString, encoded);
    QVERIFY(argument.contains(encoded));

    const QString text = QStringLiteral("[\n    {\n        \"host\": \"прокси.локально\",\n        \"port\": 3128\n    }\n]");
    LogCapture log;
    QVERIFY(m_proxyTest.saveToFile(argument, text));
    // UTF-8 without a byte-order mark, under the decoded name, and no temporary left behind.
    QCOMPARE(contents(m_dir.filePath(name)), text.toUtf8());
    QCOMPARE(m_proxyTest.loadFromFile(argument), text);
    QCOMPARE(log.lines(), QStringList());
    QVERIFY(QFile::remove(m_dir.filePath(name)));
    QCOMPARE(entries(m_dir.path()), QStringList());
}

void FilesTest::emptyPath()
{
    LogCapture log;
    QCOMPARE(m_proxyTest.saveToFile(QString(), QStringLiteral("[]")), false);
    QVERIFY(m_proxyTest.loadFromFile(QString()).isEmpty());
    QCOMPARE(log.lines(), QStringList({ saveLine(QString()), loadLine(QString()) }));
}

void FilesTest::saveFailsCleanly_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("missing directory") << "missing/list.json";
    QTest::newRow("parent is a file") << "afile/list.json";
    QTest::newRow("target is a directory") << "adir";
}

void FilesTest::saveFailsCleanly()
{
    QFETCH(QString, relative);
    QTemporaryDir dir;
    writeBytes(dir.filePath("afile"), "keep");
    QVERIFY(QDir(dir.path()).mkdir("adir"));
    const QString path = dir.filePath(relative);

    LogCapture log;
    QCOMPARE(m_proxyTest.saveToFile(QUrl::fromLocalFile(path).toString(), QStringLiteral("[]")), false);
    QCOMPARE(log.lines(), QStringList(saveLine(path)));
    QCOMPARE(entries(dir.path()), QStringList({ "adir", "afile" }));
    QCOMPARE(entries(dir.filePath("adir")), QStringList());
    QCOMPARE(contents(dir.filePath("afile")), QByteArray("keep"));
}

// A file-size limit makes the write itself fail after the file was opened,
// as a full disk would; even root cannot write past it.
void FilesTest::failedWriteKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("list.json");
    writeBytes(path, "[\"old list\"]");

    rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);

    bool result = true;
    QStringList lines;
    {
        LogCapture log;
        result = m_proxyTest.saveToFile(path, QString(64 * 1024, QLatin1Char('x')));
        lines = log.lines();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(result, false);
    QCOMPARE(lines, QStringList(saveLine(path)));
    QCOMPARE(contents(path), QByteArray("[\"old list\"]"));
    QCOMPARE(entries(dir.path()), QStringList("list.json"));
}

void FilesTest::overwriteAndEmptyText()
{
    const QString path = m_dir.filePath("list.json");
    LogCapture log;
    QVERIFY(m_proxyTest.saveToFile(path, QString(5000, QLatin1Char('y'))));
    QVERIFY(m_proxyTest.saveToFile(path, QStringLiteral("[]")));
    QCOMPARE(contents(path), QByteArray("[]"));

    QVERIFY(m_proxyTest.saveToFile(path, QString()));
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    const QString text = m_proxyTest.loadFromFile(path);
    QVERIFY(text.isEmpty());
    QCOMPARE(log.lines(), QStringList());
    QVERIFY(QFile::remove(path));
}

void FilesTest::readDecoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("UTF-8 byte-order mark") << QByteArray("\xEF\xBB\xBF[\"\xD0\xB6\"]") << QStringLiteral("[\"ж\"]");
    QTest::newRow("UTF-16LE byte-order mark") << QByteArray("\xFF\xFE[\0]\0", 6) << QStringLiteral("[]");
    QTest::newRow("CR LF line ends") << QByteArray("[\r\n    1\r\n]\r\n") << QStringLiteral("[\n    1\n]\n");
    QTest::newRow("lone carriage returns") << QByteArray("a\rb\r") << QStringLiteral("ab");
    QTest::newRow("UTF-16BE byte-order mark") << QByteArray("\xFE\xFF\0[\0\r\0\n\0]", 10) << QStringLiteral("[\n]");
    QTest::newRow("UTF-32LE byte-order mark") << QByteArray("\xFF\xFE\0\0[\0\0\0]\0\0\0", 12) << QStringLiteral("[]");
    QTest::newRow("UTF-32BE byte-order mark") << QByteArray("\0\0\xFE\xFF\0\0\0[\0\0\0]", 12) << QStringLiteral("[]");
    // U+0D15 before a line feed holds the bytes 0D 0A in UTF-16LE.
    QTest::newRow("UTF-16LE, 0D 0A inside") << QByteArray("\xFF\xFE\x15\x0D\x0A\0", 6) << QStringLiteral("\u0D15\n");
    QTest::newRow("malformed UTF-8") << QByteArray("a\xFF\xC3(b") << QStringLiteral("a\uFFFD\uFFFD(b");
    // Qt's text stream decodes 16 KiB at a time and lost the "y" after a
    // malformed byte that ended the first piece.
    QTest::newRow("malformed at 16 KiB") << QByteArray(16383, 'x') + "\xEAyz" << QString(16383, u'x') + QStringLiteral("\uFFFDyz");
}

void FilesTest::readDecoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const QString path = m_dir.filePath("read.json");
    writeBytes(path, bytes);
    LogCapture log;
    QCOMPARE(m_proxyTest.loadFromFile(QUrl::fromLocalFile(path).toString()), expected);
    QCOMPARE(log.lines(), QStringList());
    QVERIFY(QFile::remove(path));
}

void FilesTest::readMissingFile()
{
    const QString path = m_dir.filePath("нет такого.json");
    LogCapture log;
    QVERIFY(m_proxyTest.loadFromFile(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)).isEmpty());
    QCOMPARE(log.lines(), QStringList(loadLine(path)));
}

// Larger files count as unreadable: a proxy list never comes near 32 MiB, and
// nothing larger is read into memory (nor an endless device).
void FilesTest::readSizeLimit_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("size"); // of a file of zero bytes made for the case
    QTest::addColumn<bool>("read");
    const QString path = m_dir.filePath("large.json");
    QTest::newRow("32 MiB") << path << qint64(32 << 20) << true;
    QTest::newRow("32 MiB and a byte") << path << qint64(32 << 20) + 1 << false;
    QTest::newRow("100 MB") << path << qint64(100'000'000) << false;
    QTest::newRow("endless device") << "/dev/zero" << qint64(-1) << false;
}

void FilesTest::readSizeLimit()
{
    QFETCH(QString, path);
    QFETCH(qint64, size);
    QFETCH(bool, read);
    if (size >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.resize(size)); // sparse: no disk space, no time
    }
    LogCapture log;
    const QString text = m_proxyTest.loadFromFile(path);
    QCOMPARE(text.size(), read ? size : 0);
    QCOMPARE(log.lines(), read ? QStringList() : QStringList(loadLine(path)));
    if (size >= 0)
        QVERIFY(QFile::remove(path));
}

// Export with credentials creates the file for its owner alone, also over an
// older file that others could read; the settings store, once made private,
// stays so when it is rewritten.
void FilesTest::credentialsStayPrivate_data()
{
    QTest::addColumn<bool>("older"); // a file others can read is there first
    QTest::addColumn<bool>("store");
    QTest::newRow("new file") << false << false;
    QTest::newRow("over a readable file") << true << false;
    QTest::newRow("settings store") << true << true;
}

void FilesTest::credentialsStayPrivate()
{
    QFETCH(bool, older);
    QFETCH(bool, store);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("Quillfen"));
    const QString path = store ? QSettings().fileName() : dir.filePath("list.txt");
    constexpr auto others = QFile::ReadGroup | QFile::ReadOther;
    if (older) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        writeBytes(path, "");
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | others));
    }
    if (store) {
        QVERIFY(ProxyLines().keepSettingsPrivate());
        QSettings().setValue(QStringLiteral("ProxyConfig/savedProxies"), QStringLiteral("[]"));
        QCOMPARE(QSettings().status(), QSettings::NoError);
        QVERIFY(QFile(path).size() > 0);
    } else {
        QVERIFY(m_proxyTest.saveToFile(path, QStringLiteral("socks5://u:p@h:1\n"), true));
    }
    QCOMPARE(QFile::permissions(path) & (others | QFile::WriteGroup | QFile::WriteOther), QFileDevice::Permissions());
}

QTEST_GUILESS_MAIN(FilesTest)
#include "tst_files.moc"
