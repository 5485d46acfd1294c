#include "proxytest.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quillfen"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillfen"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));

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
