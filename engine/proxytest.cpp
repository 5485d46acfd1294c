#include "proxytest.h"

#include "probeengine.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

ProxyTest::ProxyTest(QObject *parent)
    : QObject(parent)
    , m_engine(std::make_unique<ProbeEngine>())
{
    connect(m_engine.get(), &ProbeEngine::finished, this,
            [this](int index, ProbeEngine::Outcome outcome, const QString &text, int milliseconds) {
                switch (outcome) {
                case ProbeEngine::Outcome::Alive:
                    conclude(index, true, text, QString(), QStringLiteral("alive"), milliseconds);
                    break;
                case ProbeEngine::Outcome::Dead:
                    conclude(index, false, QString(), text, QStringLiteral("dead"));
                    break;
                case ProbeEngine::Outcome::Timeout:
                    conclude(index, false, QString(), text, QStringLiteral("timeout"));
                    break;
                }
            });
}

ProxyTest::~ProxyTest() = default;

void ProxyTest::setTargetUrl(const QString &url)
{
    if (url == m_targetUrl)
        return;
    m_targetUrl = url;
    emit targetUrlChanged();
}

void ProxyTest::setAvoidCache(bool avoid)
{
    if (avoid == m_avoidCache)
        return;
    m_avoidCache = avoid;
    emit avoidCacheChanged();
}

void ProxyTest::setTimeoutMs(int ms)
{
    if (ms == m_timeoutMs)
        return;
    m_timeoutMs = ms;
    emit timeoutMsChanged();
}

void ProxyTest::setExpectedText(const QString &text)
{
    if (text == m_expectedText)
        return;
    m_expectedText = text;
    emit expectedTextChanged();
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
    cancelAll();
    m_unfinished = int(proxies.size());
    if (m_unfinished > 0)
        emit runningChanged();
    m_runList = proxies;
    m_announced = 0;
    m_lookedUp = 0;
    continueRun(m_generation, false);
}

// "testing" for every proxy, then the look-ups, from the event loop a slice at
// a time, so that the window keeps drawing through a long list. No look-up
// starts before the last "testing", so no outcome can come before one.
void ProxyTest::continueRun(int generation, bool fromEventLoop)
{
    if (generation != m_generation)
        return;
    QElapsedTimer slice;
    slice.start();
    const auto sliceOver = [&] {
        if (slice.elapsed() < 2)
            return false;
        QTimer::singleShot(0, this, [this, generation] { continueRun(generation, true); });
        return true;
    };
    while (m_announced < m_runList.size()) {
        emit proxyResult(m_announced++, false, QString(), QStringLiteral("Testing"), QStringLiteral("testing"));
        if (generation != m_generation || sliceOver())
            return;
    }
    // Never within testAll itself: settings changed right after it still
    // reach every probe, as they reach one whose look-up is still running.
    if (!fromEventLoop && m_lookedUp < m_runList.size()) {
        QTimer::singleShot(0, this, [this, generation] { continueRun(generation, true); });
        return;
    }
    while (m_lookedUp < m_runList.size()) {
        const int i = m_lookedUp++;
        const ProxyAddress entry = m_runList.at(i);
        // An address needs no look-up: it is what the look-up would give.
        if (const QHostAddress address(entry.host); !address.isNull()) {
            startRequest(i, entry, generation, { address });
            if (sliceOver())
                return;
            continue;
        }
        // The look-up is only a pre-check; the request reaches the proxy by its name.
        QHostInfo::lookupHost(entry.host, this, [this, i, entry, generation](const QHostInfo &info) {
            if (generation != m_generation)
                return;
            if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
                conclude(i, false, QString(), QStringLiteral("DNS fail"), QStringLiteral("dns_fail"));
                return;
            }
            startRequest(i, entry, generation, info.addresses());
        });
        if (sliceOver())
            return;
    }
}

QUrl ProxyTest::requestUrl() const
{
    // Thousands of look-ups can finish within one millisecond: they share
    // the URL built for it, timestamp included.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_lastUrl.madeAt == now && m_lastUrl.avoidCache == m_avoidCache && m_lastUrl.target == m_targetUrl)
        return m_lastUrl.url;

    QUrl url(m_targetUrl, QUrl::TolerantMode);
    if (m_avoidCache) {
        const QString stamp =
            QDateTime::fromMSecsSinceEpoch(now).toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss-zzz"));
        const QString separator = url.hasQuery() ? QStringLiteral("&") : QStringLiteral("?");
        QString text = url.toString();
        QString fragment;
        const qsizetype hash = text.indexOf(QLatin1Char('#'));
        if (hash >= 0) {
            fragment = text.mid(hash);
            text.truncate(hash);
        }
        url = QUrl(text + separator + QStringLiteral("_t=") + stamp + fragment, QUrl::TolerantMode);
    }
    m_lastUrl = { m_targetUrl, m_avoidCache, now, url };
    return url;
}

void ProxyTest::startRequest(int index, const ProxyAddress &entry, int generation,
                             const QList<QHostAddress> &addresses)
{
    if (generation != m_generation)
        return;
    ProbeEngine::Request request { index, addresses, static_cast<quint16>(entry.port), requestUrl(), m_timeoutMs,
                                   entry.type, entry.user, entry.password, m_expectedText.toUtf8() };
    const QString host = request.url.host();
    if (entry.type != ProxyType::Socks4 || host.isEmpty() || QHostAddress(host).protocol() != QAbstractSocket::UnknownNetworkLayerProtocol) {
        m_engine->start(std::move(request));
        return;
    }
    // SOCKS4 carries an IPv4 address: the target's name is looked up once per
    // run, and the probes that need it wait for that one look-up.
    TargetLookup &lookup = m_targetLookups[host];
    if (lookup.done) {
        request.targetIpv4 = lookup.ipv4;
        m_engine->start(std::move(request));
        return;
    }
    lookup.waiting.push_back(std::move(request));
    if (lookup.waiting.size() > 1)
        return;
    QHostInfo::lookupHost(host, this, [this, host, generation](const QHostInfo &info) {
        if (generation != m_generation)
            return;
        TargetLookup &lookup = m_targetLookups[host];
        lookup.done = true;
        for (const QHostAddress &address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                lookup.ipv4 = address.toIPv4Address(); // none: the proxy looks the name up (SOCKS4a)
                break;
            }
        }
        for (ProbeEngine::Request &request : std::exchange(lookup.waiting, {})) {
            request.targetIpv4 = lookup.ipv4;
            m_engine->start(std::move(request));
        }
    });
}

// A probe's outcome, its time first when it is alive. A handler may end the
// run or start another: the old run then says nothing more, and the run ends
// (running turns false) only after its last outcome has been handled.
void ProxyTest::conclude(int index, bool alive, const QString &info, const QString &errorMsg, const QString &status,
                         int milliseconds)
{
    const int generation = m_generation;
    if (alive) {
        emit proxyLatency(index, milliseconds);
        if (generation != m_generation)
            return;
    }
    emit proxyResult(index, alive, info, errorMsg, status);
    if (generation == m_generation && --m_unfinished == 0)
        emit runningChanged();
}

void ProxyTest::cancelAll()
{
    ++m_generation;
    if (m_unfinished > 0) {
        m_unfinished = 0;
        emit runningChanged();
    }
    m_targetLookups.clear();
    m_engine->abortAll();
}

bool ProxyTest::isIdle() const
{
    return m_engine->idle();
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

    // A proxy list file of even 200,000 entries stays far below this. A larger
    // file, or a device that never ends, counts as unreadable instead of
    // filling the memory.
    constexpr qint64 maxFileBytes = 32 * 1024 * 1024;

    QFile file(path);
    QByteArray bytes;
    bool read = !path.isEmpty() && file.open(QIODevice::ReadOnly) && file.size() <= maxFileBytes;
    if (read) {
        bytes.reserve(file.size());
        char piece[64 * 1024];
        for (qint64 n = 0; bytes.size() <= maxFileBytes && (n = file.read(piece, sizeof piece)) > 0;)
            bytes.append(piece, n);
        read = bytes.size() <= maxFileBytes;
    }
    if (!read) {
        QMessageLogger(nullptr, 0, nullptr).debug() << "Не удалось прочитать файл:" << path;
        return QString();
    }
    // Decoded in one piece, as a text stream in text mode would decode it: a
    // leading byte-order mark chooses the encoding (UTF-8 without one) and is
    // left out, and every carriage return is dropped. (A text stream decodes
    // 16 KiB at a time, and Qt 6.4 then loses the character that follows a
    // malformed sequence at the end of a piece.) A sequence cut short by the
    // end of the file reads as a replacement character, like any malformed one.
    const auto encoding = QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8);
    QString text = QStringDecoder(encoding, QStringConverter::Flag::Stateless).decode(bytes);
    text.remove(QLatin1Char('\r'));
    return text;
}
