#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

#include "proxyaddress.h"
#include "testrun.h"

class ProxyListModel;

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
    // A MaxMind DB file (.mmdb) that names the country of each live proxy's exit
    // address; empty: none. Opened once per change.
    Q_PROPERTY(QString countryDatabase READ countryDatabase WRITE setCountryDatabase NOTIFY countryDatabaseChanged)
    // Why that file cannot be read, in one line; empty when it can, or when there is none.
    Q_PROPERTY(QString countryDatabaseError READ countryDatabaseError NOTIFY countryDatabaseErrorChanged)

public:
    static constexpr auto defaultTargetUrl = "https://quillfen.example.net/test.php";

    explicit ProxyTest(QObject *parent = nullptr);
    ~ProxyTest() override;

    QString targetUrl() const { return m_run.settings().targetUrl; }
    bool avoidCache() const { return m_run.settings().avoidCache; }
    int timeoutMs() const { return m_run.settings().timeoutMs; }
    QString expectedText() const { return m_run.settings().expectedText; }
    bool running() const { return m_run.running(); }
    QString countryDatabase() const { return m_countryDatabase; }
    QString countryDatabaseError() const { return m_run.countries().error(); }

    Q_INVOKABLE void setTargetUrl(const QString &url);
    Q_INVOKABLE void setAvoidCache(bool avoid);
    Q_INVOKABLE void setTimeoutMs(int ms);
    Q_INVOKABLE void setExpectedText(const QString &text);
    // A "file:" URL, as a file dialog gives, or a path.
    Q_INVOKABLE void setCountryDatabase(const QString &path);

    Q_INVOKABLE void testAll(const QVariantList &proxies);
    // testAll for a list that is already read.
    void testList(const QList<ProxyAddress> &proxies);
    // testAll for the rows of a list model, every row back to "unknown"
    // without a response first: a hundred thousand rows never pass through
    // script values.
    Q_INVOKABLE void testRows(ProxyListModel *model);
    Q_INVOKABLE void cancelAll();
    // Why a target URL cannot be tested, in a few words; empty when it can.
    Q_INVOKABLE QString targetUrlProblem(const QString &url) const { return TestRun::targetProblem(url); }

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
    // Once for each "alive" probe, before its proxyLatency: what its answer showed
    // of the proxy (TestRun::profile).
    void proxyProfile(int index, const QVariantMap &profile);
    // Once a run: whether the target answers directly, without a proxy; a
    // failure is said at once and the run goes on (TestRun::targetChecked).
    void targetChecked(bool reachable, const QString &message);
    void countryDatabaseChanged();
    void countryDatabaseErrorChanged();

private:
    TestRun m_run;
    QString m_countryDatabase;
};
