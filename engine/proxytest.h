#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QHash>

#include <memory>
#include <vector>

#include "probeengine.h"
#include "proxyaddress.h"

class QHostAddress;

// The program's one backend: test settings, the concurrent test run and
// whole-file text import/export. Reports runs only through proxyResult.
class ProxyTest : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString targetUrl READ targetUrl WRITE setTargetUrl NOTIFY targetUrlChanged)
    Q_PROPERTY(bool avoidCache READ avoidCache WRITE setAvoidCache NOTIFY avoidCacheChanged)
    Q_PROPERTY(int timeoutMs READ timeoutMs WRITE setTimeoutMs NOTIFY timeoutMsChanged)
    Q_PROPERTY(QString expectedText READ expectedText WRITE setExpectedText NOTIFY expectedTextChanged)
    // From testAll until the run's last outcome, or until cancelAll.
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)

public:
    static constexpr auto defaultTargetUrl = "https://quillfen.example.net/test.php";

    explicit ProxyTest(QObject *parent = nullptr);
    ~ProxyTest() override;

    QString targetUrl() const { return m_targetUrl; }
    bool avoidCache() const { return m_avoidCache; }
    int timeoutMs() const { return m_timeoutMs; }
    QString expectedText() const { return m_expectedText; }
    bool running() const { return m_unfinished > 0; }

    Q_INVOKABLE void setTargetUrl(const QString &url);
    Q_INVOKABLE void setAvoidCache(bool avoid);
    Q_INVOKABLE void setTimeoutMs(int ms);
    Q_INVOKABLE void setExpectedText(const QString &text);

    Q_INVOKABLE void testAll(const QVariantList &proxies);
    // testAll for a list that is already read, as the list model hands it over.
    Q_INVOKABLE void testList(const QList<ProxyAddress> &proxies);
    Q_INVOKABLE void cancelAll();

    // ownerOnly: the text holds credentials; the file is readable by its owner only.
    Q_INVOKABLE bool saveToFile(const QString &filePath, const QString &data, bool ownerOnly = false);
    Q_INVOKABLE QString loadFromFile(const QString &filePath);

    // Nothing of a run is left: no probe, no open connection, no timer armed.
    bool isIdle() const;

signals:
    void proxyResult(int index, bool alive, const QString &info,
                     const QString &errorMsg = QString(), const QString &status = QString());
    void targetUrlChanged();
    void avoidCacheChanged();
    void timeoutMsChanged();
    void expectedTextChanged();
    void runningChanged();
    // Once for each "alive" probe, just before its proxyResult: from the start
    // of the connection to the proxy to the complete answer.
    void proxyLatency(int index, int milliseconds);

private:
    void continueRun(int generation, bool fromEventLoop);
    void conclude(int index, bool alive, const QString &info, const QString &errorMsg, const QString &status,
                  int milliseconds = -1);
    void startRequest(int index, const ProxyAddress &entry, int generation, const QList<QHostAddress> &addresses);
    QUrl requestUrl() const;

    struct BuiltUrl
    {
        QString target;
        bool avoidCache { false };
        qint64 madeAt { -1 }; // ms since the epoch
        QUrl url;
    };

    QString m_targetUrl { QString::fromLatin1(defaultTargetUrl) };
    bool m_avoidCache { true };
    int m_timeoutMs { 15000 };
    QString m_expectedText;
    QList<ProxyAddress> m_runList;
    int m_generation { 0 };
    int m_unfinished { 0 }; // probes of the run still without an outcome
    int m_announced { 0 }; // "testing" reported for the run list up to here
    int m_lookedUp { 0 }; // look-ups started up to here
    std::unique_ptr<ProbeEngine> m_engine; // carries the probes of the current run
    mutable BuiltUrl m_lastUrl;
    struct TargetLookup
    {
        bool done { false };
        quint32 ipv4 { 0 };
        std::vector<ProbeEngine::Request> waiting;
    };
    QHash<QString, TargetLookup> m_targetLookups; // by the target's host, for the current run
};
