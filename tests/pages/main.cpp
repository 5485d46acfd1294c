// Runs the page tests (tests/pages and tests/settings) over the program's own
// documents, with stand-ins published to QML for what would reach the network,
// the user's settings or the log.

#include "proxytest.h"
#include "qmltypes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtQuickTest>

#include <memory>
#include <utility>

// ProxyTest's properties, signals and operations; records every call and
// probes nothing. Files are read and written by a real ProxyTest.
class FakeProxyTest : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString targetUrl MEMBER m_targetUrl WRITE setTargetUrl NOTIFY targetUrlChanged)
    Q_PROPERTY(bool avoidCache MEMBER m_avoidCache WRITE setAvoidCache NOTIFY avoidCacheChanged)
    Q_PROPERTY(int timeoutMs MEMBER m_timeoutMs WRITE setTimeoutMs NOTIFY timeoutMsChanged)
    Q_PROPERTY(QString expectedText MEMBER m_expectedText WRITE setExpectedText NOTIFY expectedTextChanged)
    Q_PROPERTY(bool running MEMBER m_running NOTIFY runningChanged)
    Q_PROPERTY(QStringList calls MEMBER m_calls NOTIFY callsChanged)
    Q_PROPERTY(QVariantList lastProxies MEMBER m_lastProxies NOTIFY callsChanged)

public:
    Q_INVOKABLE void setTargetUrl(const QString &url) { set(m_targetUrl, url, &FakeProxyTest::targetUrlChanged, "setTargetUrl"); }
    Q_INVOKABLE void setAvoidCache(bool avoid) { set(m_avoidCache, avoid, &FakeProxyTest::avoidCacheChanged, "setAvoidCache"); }
    Q_INVOKABLE void setTimeoutMs(int ms) { set(m_timeoutMs, ms, &FakeProxyTest::timeoutMsChanged, "setTimeoutMs"); }
    Q_INVOKABLE void setExpectedText(const QString &text) { set(m_expectedText, text, &FakeProxyTest::expectedTextChanged, "setExpectedText"); }
    Q_INVOKABLE void testList(const QList<ProxyAddress> &proxies)
    {
        m_lastProxies.clear();
        for (const ProxyAddress &proxy : proxies)
            m_lastProxies.append(QVariantMap { { "host", proxy.host }, { "port", proxy.port } });
        record("testList");
        setRunning(true);
    }
    Q_INVOKABLE void cancelAll()
    {
        record("cancelAll");
        setRunning(false);
    }
    Q_INVOKABLE bool saveToFile(const QString &path, const QString &data, bool ownerOnly = false) { return m_files.saveToFile(path, data, ownerOnly); }
    Q_INVOKABLE QString loadFromFile(const QString &path) { return m_files.loadFromFile(path); }

    // Back to the backend's defaults, with no calls recorded.
    Q_INVOKABLE void reset()
    {
        setTargetUrl(QString::fromLatin1(ProxyTest::defaultTargetUrl));
        setAvoidCache(true);
        setTimeoutMs(15000);
        setExpectedText(QString());
        m_calls.clear();
        m_lastProxies.clear();
        emit callsChanged();
    }

signals:
    void proxyResult(int index, bool alive, const QString &info, const QString &errorMsg, const QString &status);
    void proxyLatency(int index, int milliseconds);
    void targetUrlChanged();
    void avoidCacheChanged();
    void timeoutMsChanged();
    void expectedTextChanged();
    void runningChanged();
    void callsChanged(); // for testList, from inside it, before it returns

private:
    void record(const char *call)
    {
        m_calls.append(QLatin1String(call));
        emit callsChanged();
    }
    void setRunning(bool running)
    {
        if (std::exchange(m_running, running) != running)
            emit runningChanged();
    }
    template<typename T>
    void set(T &member, const T &value, void (FakeProxyTest::*changed)(), const char *call)
    {
        record(call);
        if (std::exchange(member, value) != value)
            emit(this->*changed)();
    }

    ProxyTest m_files;
    QString m_targetUrl { QString::fromLatin1(ProxyTest::defaultTargetUrl) };
    bool m_avoidCache { true };
    int m_timeoutMs { 15000 };
    QString m_expectedText;
    bool m_running { false };
    QStringList m_calls;
    QVariantList m_lastProxies;
};

// The files the tests lay down: the program's settings store, in a new folder
// for each case, and files too large or too broken to spell out.
class TestFiles : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString dir READ dir CONSTANT)
public:
    QString dir() const { return QUrl::fromLocalFile(m_dir.path()).toString(); }

    // head, then unit count times, then tail, each character one byte (Latin-1).
    Q_INVOKABLE static bool write(const QString &pathOrUrl, const QString &head, const QString &unit = {},
                                  int count = 0, const QString &tail = {})
    {
        const QUrl url(pathOrUrl);
        QFile file(url.isLocalFile() ? url.toLocalFile() : pathOrUrl);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write(head.toLatin1());
        const int perPiece = qMax(1, (1 << 20) / qMax(1, int(unit.size())));
        const QByteArray piece = unit.toLatin1().repeated(perPiece);
        for (int left = count; left > 0; left -= perPiece)
            file.write(left >= perPiece ? piece : unit.toLatin1().repeated(left));
        file.write(tail.toLatin1());
        return file.flush() && file.error() == QFileDevice::NoError;
    }
    // An empty store; with bytes, a settings file of exactly those; with a
    // folder where that file belongs, a store that can be neither read nor replaced.
    Q_INVOKABLE void freshStore(const QVariant &bytes = {}, bool folder = false)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(QString::number(++m_stores)));
        const QString fileName = QSettings().fileName();
        QDir().mkpath(folder ? fileName : QFileInfo(fileName).path());
        if (!bytes.isNull())
            write(fileName, bytes.toString());
    }
    Q_INVOKABLE bool storeIsPrivate() const
    {
        return !(QFile::permissions(QSettings().fileName()) & (QFile::ReadGroup | QFile::ReadOther));
    }
    // As text, the way the store keeps every value on disk.
    Q_INVOKABLE QString stored(const QString &key) const
    {
        return QSettings().value(QStringLiteral("ProxyConfig/") + key).toString();
    }

private:
    QTemporaryDir m_dir;
    int m_stores = 0;
};

// A loopback HTTP listener that answers 404 and remembers each request line.
class RequestRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int port READ port CONSTANT)
    Q_PROPERTY(QStringList requests MEMBER m_requests NOTIFY requestsChanged)
public:
    RequestRecorder()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->canReadLine())
                        return;
                    m_requests.append(QString::fromLatin1(socket->readLine()).trimmed());
                    emit requestsChanged();
                    socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
            }
        });
    }
    int port() const { return m_server.serverPort(); }

signals:
    void requestsChanged();

private:
    QTcpServer m_server;
    QStringList m_requests;
};

// The debug lines logged since the last take(). It taps the log from its first
// use on, once the test logger's own handler (which still prints) is in place.
class LogTap : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QStringList take()
    {
        if (!s_tap) {
            s_tap = this;
            s_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (type == QtDebugMsg)
                    s_tap->m_lines << message;
                s_previous(type, context, message);
            });
        }
        return std::exchange(m_lines, {});
    }

private:
    static inline LogTap *s_tap = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
    QStringList m_lines;
};

class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        // Nothing may reach the user's own settings, even before a case picks its store.
        qputenv("XDG_CONFIG_HOME", m_configHome.path().toLocal8Bit());
        QCoreApplication::setOrganizationName(QStringLiteral("Quillfen"));
        QCoreApplication::setApplicationName(QStringLiteral("Quillfen"));
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        registerQuillfenTypes();
        m_proxyTest = std::make_unique<FakeProxyTest>();
        m_recorder = std::make_unique<RequestRecorder>();
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("proxyTest"), m_proxyTest.get());
        context->setContextProperty(QStringLiteral("recorder"), m_recorder.get());
        context->setContextProperty(QStringLiteral("logTap"), &m_log);
        context->setContextProperty(QStringLiteral("files"), &m_files);
    }

    // The backend and the listener live only while the application object does.
    void cleanupTestCase()
    {
        m_recorder.reset();
        m_proxyTest.reset();
    }

private:
    QTemporaryDir m_configHome;
    std::unique_ptr<FakeProxyTest> m_proxyTest;
    std::unique_ptr<RequestRecorder> m_recorder;
    LogTap m_log;
    TestFiles m_files;
};

QUICK_TEST_MAIN_WITH_SETUP(pages, Setup)

#include "main.moc"
