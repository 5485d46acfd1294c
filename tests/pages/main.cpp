#include "doubles.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTemporaryDir>
#include <QtQuickTest>

#include <memory>

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        // Nothing may reach the user's own settings, even before a case picks its store.
        m_configHome = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_configHome->path().toLocal8Bit());
        QCoreApplication::setOrganizationName(QStringLiteral("Quillfen"));
        QCoreApplication::setApplicationName(QStringLiteral("Quillfen"));
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        m_proxyTest = std::make_unique<FakeProxyTest>();
        m_store = std::make_unique<TestStore>();
        m_recorder = std::make_unique<RequestRecorder>();
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("proxyTest"), m_proxyTest.get());
        engine->rootContext()->setContextProperty(QStringLiteral("store"), m_store.get());
        engine->rootContext()->setContextProperty(QStringLiteral("recorder"), m_recorder.get());
    }

    void cleanupTestCase()
    {
        m_recorder.reset();
        m_store.reset();
        m_proxyTest.reset();
        m_configHome.reset();
    }

private:
    // Made once the application object exists, released before it goes.
    std::unique_ptr<QTemporaryDir> m_configHome;
    std::unique_ptr<FakeProxyTest> m_proxyTest;
    std::unique_ptr<TestStore> m_store;
    std::unique_ptr<RequestRecorder> m_recorder;
};

QUICK_TEST_MAIN_WITH_SETUP(pages, Setup)

#include "main.moc"
