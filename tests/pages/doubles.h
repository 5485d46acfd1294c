#pragma once

// Stand-ins the page tests publish to QML: a backend that records what the pages
// ask of it, a settings store that is new for every case, and a loopback HTTP
// listener that records every request it receives.

#include "proxytest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <vector>

// Same properties, signals and operations as ProxyTest; never touches the network.
class FakeProxyTest : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString targetUrl READ targetUrl WRITE setTargetUrl NOTIFY targetUrlChanged)
    Q_PROPERTY(bool avoidCache READ avoidCache WRITE setAvoidCache NOTIFY avoidCacheChanged)
    Q_PROPERTY(int timeoutMs READ timeoutMs WRITE setTimeoutMs NOTIFY timeoutMsChanged)
    Q_PROPERTY(QStringList calls READ calls NOTIFY callsChanged)
    Q_PROPERTY(QVariantList lastProxies READ lastProxies NOTIFY callsChanged)

public:
    QString targetUrl() const { return m_targetUrl; }
    bool avoidCache() const { return m_avoidCache; }
    int timeoutMs() const { return m_timeoutMs; }
    QStringList calls() const { return m_calls; }
    QVariantList lastProxies() const { return m_lastProxies; }

    Q_INVOKABLE void setTargetUrl(const QString &url) { set(m_targetUrl, url, &FakeProxyTest::targetUrlChanged, "setTargetUrl"); }
    Q_INVOKABLE void setAvoidCache(bool avoid) { set(m_avoidCache, avoid, &FakeProxyTest::avoidCacheChanged, "setAvoidCache"); }
    Q_INVOKABLE void setTimeoutMs(int ms) { set(m_timeoutMs, ms, &FakeProxyTest::timeoutMsChanged, "setTimeoutMs"); }
    Q_INVOKABLE void testAll(const QVariantList &proxies)
    {
        m_lastProxies = proxies;
        record("testAll");
        emit testAllCalled();
    }
    Q_INVOKABLE void cancelAll() { record("cancelAll"); }
    Q_INVOKABLE bool saveToFile(const QString &, const QString &) { record("saveToFile"); return false; }
    Q_INVOKABLE QString loadFromFile(const QString &) { record("loadFromFile"); return QString(); }

    // Test controls.
    Q_INVOKABLE void reset()
    {
        m_targetUrl = QString::fromLatin1(ProxyTest::defaultTargetUrl);
        m_avoidCache = true;
        m_timeoutMs = 15000;
        m_calls.clear();
        m_lastProxies.clear();
        emit targetUrlChanged();
        emit avoidCacheChanged();
        emit timeoutMsChanged();
        emit callsChanged();
    }
    Q_INVOKABLE void sendResult(int index, bool alive, const QString &info, const QString &errorMsg,
                                const QString &status)
    {
        emit proxyResult(index, alive, info, errorMsg, status);
    }

signals:
    void proxyResult(int index, bool alive, const QString &info,
                     const QString &errorMsg = QString(), const QString &status = QString());
    void targetUrlChanged();
    void avoidCacheChanged();
    void timeoutMsChanged();
    void callsChanged();
    void testAllCalled(); // emitted from inside testAll, before it returns

private:
    void record(const char *call)
    {
        m_calls.append(QLatin1String(call));
        emit callsChanged();
    }
    template<typename T>
    void set(T &member, const T &value, void (FakeProxyTest::*changed)(), const char *call)
    {
        record(call);
        if (member == value)
            return;
        member = value;
        emit(this->*changed)();
    }

    QString m_targetUrl { QString::fromLatin1(ProxyTest::defaultTargetUrl) };
    bool m_avoidCache { true };
    int m_timeoutMs { 15000 };
    QStringList m_calls;
    QVariantList m_lastProxies;
};

// The program's settings store, moved into a new temporary folder for each case.
class TestStore : public QObject
{
    Q_OBJECT

public:
    // Points every QSettings created from now on at an empty folder, then writes
    // seed's keys into the group ProxyConfig. Returns the folder.
    Q_INVOKABLE QString fresh(const QVariantMap &seed = {})
    {
        m_dirs.push_back(std::make_unique<QTemporaryDir>());
        const QString path = m_dirs.back()->path();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
        QSettings settings;
        settings.beginGroup(QStringLiteral("ProxyConfig"));
        for (auto it = seed.cbegin(); it != seed.cend(); ++it)
            settings.setValue(it.key(), it.value());
        settings.endGroup();
        settings.sync();
        return path;
    }
    // Like fresh(), then the settings file holds exactly these bytes (one per
    // character, Latin-1): a store damaged outside the program.
    Q_INVOKABLE QString freshBytes(const QString &latin1)
    {
        const QString path = fresh();
        const QString fileName = QSettings().fileName();
        QDir().mkpath(QFileInfo(fileName).path());
        QFile file(fileName);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(latin1.toLatin1());
        return path;
    }
    // Like fresh(), with a folder where the settings file belongs: it can be
    // neither read nor replaced.
    Q_INVOKABLE QString freshFolder()
    {
        const QString path = fresh();
        QDir().mkpath(QSettings().fileName());
        return path;
    }
    // The settings file as it is on disk, one character per byte; "" when
    // it cannot be read.
    Q_INVOKABLE QString fileBytes() const
    {
        QFile file(QSettings().fileName());
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }
    Q_INVOKABLE bool contains(const QString &key) const
    {
        return QSettings().contains(QStringLiteral("ProxyConfig/") + key);
    }
    // As text, the way the store keeps every value on disk.
    Q_INVOKABLE QString value(const QString &key) const
    {
        return QSettings().value(QStringLiteral("ProxyConfig/") + key).toString();
    }

private:
    std::vector<std::unique_ptr<QTemporaryDir>> m_dirs;
};

// Answers every request with 404 and remembers its request line.
class RequestRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int port READ port CONSTANT)
    Q_PROPERTY(QStringList requests READ requests NOTIFY requestsChanged)

public:
    RequestRecorder()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->canReadLine())
                        return;
                    m_requests.append(QString::fromLatin1(socket->readLine()).trimmed());
                    emit requestsChanged();
                    socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    int port() const { return m_server.serverPort(); }
    QStringList requests() const { return m_requests; }

signals:
    void requestsChanged();

private:
    QTcpServer m_server;
    QStringList m_requests;
};
