#include "platformnet.h"
#include "proxytest.h"
#include "qmltypes.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QSettings>

// A settings file that cannot be parsed would be written back under the wrong
// group, and the next start would read what was left of it. Keep it aside,
// untouched, and start from a fresh store.
static void setAsideUnreadableSettings()
{
    QString path;
    {
        const QSettings settings; // one instance: a second one reuses the parsed file and reports no error
        if (settings.status() != QSettings::FormatError)
            return;
        path = settings.fileName();
    }
    const QString aside = path + QStringLiteral(".unreadable-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(path, aside))
        return;
    // What could not be read may hold passwords: the copy is its owner's alone.
    QFile::setPermissions(aside, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    qWarning("Settings file %s could not be read; kept as %s", qPrintable(path), qPrintable(aside));
}

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    PlatformNet::raiseOpenFileLimit(); // a run holds a socket for every proxy in flight
    QCoreApplication::setOrganizationName(QStringLiteral("Quillfen"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillfen"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    setAsideUnreadableSettings();
    registerQuillfenTypes();

    ProxyTest proxyTest;
    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("proxyTest"), &proxyTest);

    const QUrl url(QStringLiteral("qrc:/qt/qml/Quillfen/main.qml"), QUrl::TolerantMode);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject *object, const QUrl &objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);

    return app.exec();
}
