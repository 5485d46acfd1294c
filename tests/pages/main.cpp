// Runs the page tests (tests/pages and tests/settings) over the program's own documents and a real ProxyTest,
// with a loopback proxy that never answers and a settings store in a temporary folder. "env": what QML cannot do.
#include "peer.h"
#include "proxytest.h"
#include "qmltypes.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QSettings>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString dir READ dir CONSTANT) // a folder, as a URL, for the files a case writes
    Q_PROPERTY(int silentPort READ silentPort CONSTANT)

public:
    QString dir() const { return QUrl::fromLocalFile(m_dir.path()).toString(); }
    int silentPort() const { return m_silent->port(); }
    // A new settings store: empty, or a file of exactly these bytes (one a character).
    Q_INVOKABLE void freshStore(const QVariant &bytes = {})
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(QString::number(++m_stores)));
        QFile file(QSettings().fileName());
        if (!bytes.isNull() && QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly))
            file.write(bytes.toString().toLatin1()), file.setFileTime(QDateTime(QDate(2020, 1, 1), QTime()), QFile::FileModificationTime);
    }
    // The store's bytes and modification time, to tell whether anything rewrote it.
    Q_INVOKABLE QString storeStamp() const
    {
        QFile file(QSettings().fileName());
        return file.fileTime(QFile::FileModificationTime).toString(Qt::ISODateWithMs) + (file.open(QIODevice::ReadOnly) ? file.readAll() : "");
    }
    Q_INVOKABLE bool storeIsPrivate() const { return !(QFile::permissions(QSettings().fileName()) & (QFile::ReadGroup | QFile::ReadOther)); }
    Q_INVOKABLE bool clipboardSecret() const { return QGuiApplication::clipboard()->mimeData()->hasFormat("x-kde-passwordManagerHint"); }
    Q_INVOKABLE QString stored(const QString &key) const { return QSettings().value("ProxyConfig/" + key).toString(); } // as text, as on disk

public slots:
    void applicationAvailable()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Quillfen"));
        QCoreApplication::setApplicationName(QStringLiteral("Quillfen"));
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        registerQuillfenTypes();
        freshStore(); // nothing reaches the user's own settings
        m_silent = std::make_unique<Peer>(QStringLiteral("silent"));
    }
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        auto *proxyTest = new ProxyTest(engine);
        proxyTest->setTargetUrl(QStringLiteral("http://127.0.0.1:9/t")); // never reached: runs go to the silent proxy
        proxyTest->setTimeoutMs(60000);
        engine->rootContext()->setContextProperty(QStringLiteral("proxyTest"), proxyTest);
        engine->rootContext()->setContextProperty(QStringLiteral("env"), this);
    }
    void cleanupTestCase() { m_silent.reset(); } // while the application object is still there

private:
    QTemporaryDir m_dir;
    int m_stores = 0;
    std::unique_ptr<Peer> m_silent;
};

QUICK_TEST_MAIN_WITH_SETUP(pages, Setup)

#include "main.moc"
