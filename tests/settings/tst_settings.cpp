#include "peer.h"
#include "proxytest.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QSettings>
#include <QTemporaryDir>
#include <QtQuickTest>

// What the pages write to the log, for the tests to read back. It taps the
// messages from its first use on, when the test logger's handler is in place
// (which then prints them as usual).
class LogTap : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QStringList take()
    {
        if (!s_tap) {
            s_tap = this;
            s_previous = qInstallMessageHandler(&LogTap::record);
        }
        return std::exchange(m_lines, {});
    }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtDebugMsg)
            s_tap->m_lines << message;
        s_previous(type, context, message);
    }
    static inline LogTap *s_tap = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
    QStringList m_lines;
};

// The settings store of the main window, kept in a temporary folder.
class Store : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QVariant value(const QString &key) const { return QSettings().value(group + key); }
    Q_INVOKABLE void setValue(const QString &key, const QVariant &value) { QSettings().setValue(group + key, value); }

private:
    const QString group = QStringLiteral("ProxyConfig/");
};

class Setup : public QObject
{
    Q_OBJECT
public:
    Setup() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }

public slots:
    void applicationAvailable()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Quillfen"));
        QCoreApplication::setApplicationName(QStringLiteral("Quillfen"));
        QQuickStyle::setStyle(QStringLiteral("Basic"));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("proxyTest"), &m_proxyTest);
        context->setContextProperty(QStringLiteral("logTap"), &m_log);
        context->setContextProperty(QStringLiteral("store"), &m_store);
        context->setContextProperty(QStringLiteral("filesDir"), QUrl::fromLocalFile(m_files.path()).toString());
        context->setContextProperty(QStringLiteral("closedPort"), closedPort());
    }

private:
    QTemporaryDir m_config;
    QTemporaryDir m_files;
    ProxyTest m_proxyTest;
    LogTap m_log;
    Store m_store;
};

QUICK_TEST_MAIN_WITH_SETUP(settings, Setup)
#include "tst_settings.moc"
