#include "proxytest.h"

#include "listfile.h"
#include "proxylistmodel.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <QUrl>

ProxyTest::ProxyTest(QObject *parent)
    : QObject(parent)
{
    m_run.settings().targetUrl = QString::fromLatin1(defaultTargetUrl);
    connect(&m_run, &TestRun::result, this, &ProxyTest::proxyResult);
    connect(&m_run, &TestRun::latency, this, &ProxyTest::proxyLatency);
    connect(&m_run, &TestRun::runningChanged, this, &ProxyTest::runningChanged);
    connect(&m_run, &TestRun::profile, this, &ProxyTest::proxyProfile);
    connect(&m_run, &TestRun::targetChecked, this, &ProxyTest::targetChecked);
}

ProxyTest::~ProxyTest() = default;

void ProxyTest::setTargetUrl(const QString &url)
{
    if (url == m_run.settings().targetUrl)
        return;
    m_run.settings().targetUrl = url;
    emit targetUrlChanged();
}

void ProxyTest::setAvoidCache(bool avoid)
{
    if (avoid == m_run.settings().avoidCache)
        return;
    m_run.settings().avoidCache = avoid;
    emit avoidCacheChanged();
}

void ProxyTest::setTimeoutMs(int ms)
{
    if (ms == m_run.settings().timeoutMs)
        return;
    m_run.settings().timeoutMs = ms;
    emit timeoutMsChanged();
}

void ProxyTest::setExpectedText(const QString &text)
{
    if (text == m_run.settings().expectedText)
        return;
    m_run.settings().expectedText = text;
    emit expectedTextChanged();
}

static QString localPath(const QString &filePath);

void ProxyTest::setCountryDatabase(const QString &path)
{
    if (path == m_countryDatabase)
        return;
    const QString error = countryDatabaseError();
    m_countryDatabase = path;
    m_run.countries().setPath(localPath(path));
    emit countryDatabaseChanged();
    if (countryDatabaseError() != error)
        emit countryDatabaseErrorChanged();
}

void ProxyTest::testAll(const QVariantList &proxies)
{
    QList<ProxyAddress> runList;
    runList.reserve(proxies.size());
    for (const QVariant &element : proxies) {
        const QVariantMap map = element.toMap();
        // A missing or unknown type is plain HTTP, as every list was before the
        // other types. The port reaches the probe as its low 16 bits (-1 is 65535).
        runList.append({ map.value(QStringLiteral("host")).toString(), map.value(QStringLiteral("port")).toInt(),
                         proxyTypeFromName(map.value(QStringLiteral("type")).toString()).value_or(ProxyType::Http),
                         map.value(QStringLiteral("user")).toString(),
                         map.value(QStringLiteral("password")).toString() });
    }
    testList(runList);
}

void ProxyTest::testList(const QList<ProxyAddress> &proxies)
{
    m_run.start(proxies);
}

void ProxyTest::testRows(ProxyListModel *model)
{
    cancelAll();
    if (model)
        testList(model->resetForRun());
}

void ProxyTest::cancelAll()
{
    m_run.cancel();
}

bool ProxyTest::isIdle() const
{
    return m_run.idle();
}

// The pages hand over what a file dialog selected, a "file:" URL in text form;
// anything else (a plain path, a drive-letter path) is used as it is.
static QString localPath(const QString &filePath)
{
    const QUrl url(filePath, QUrl::TolerantMode);
    return url.isLocalFile() ? url.toLocalFile() : filePath;
}

bool ProxyTest::saveToFile(const QString &filePath, const QString &data, bool ownerOnly)
{
    const QString path = localPath(filePath);

    // The old file is replaced only once the whole text is on disk: a failed
    // write (a full disk, say) leaves it as it was.
    QSaveFile file(path);
    bool written = false;
    // An empty name fails here, before the file layer would warn about it.
    if (!path.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        // Before the first byte, on the new file that replaces the old one
        // (which would hand on the old file's mode). A file system without
        // modes (FAT) refuses, and the text is written all the same.
        if (ownerOnly)
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QTextStream stream(&file);
        stream.setEncoding(QStringConverter::Utf8);
        stream << data;
        stream.flush();
        if (stream.status() != QTextStream::Ok)
            file.cancelWriting();
        written = file.commit();
    }
    if (!written)
        QMessageLogger(nullptr, 0, nullptr).debug() << "Не удалось сохранить файл:" << path;
    return written;
}

QString ProxyTest::loadFromFile(const QString &filePath)
{
    const QString path = localPath(filePath);

    // Only a regular file: a FIFO or a device could block the window for good.
    QFile file(path);
    const auto bytes = !path.isEmpty() && QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly)
        ? ListFile::readBytes(file)
        : std::nullopt;
    if (!bytes) {
        QMessageLogger(nullptr, 0, nullptr).debug() << "Не удалось прочитать файл:" << path;
        return QString();
    }
    return ListFile::decode(*bytes);
}
