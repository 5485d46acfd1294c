#include "listtools.h"

#include "proxylines.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJSEngine>
#include <QMimeData>
#include <QSettings>

QJSValue ListTools::parse(const QString &text) const
{
    QJSEngine *engine = qjsEngine(this);
    if (!engine)
        return QJSValue();
    const ProxyLinesRead read = parseProxyLines(text);
    QJSValue entries = engine->newArray(uint(read.entries.size()));
    const QString host = QStringLiteral("host"), port = QStringLiteral("port"), type = QStringLiteral("type"),
                  user = QStringLiteral("user"), password = QStringLiteral("password");
    for (qsizetype i = 0; i < read.entries.size(); ++i) {
        const ProxyAddress &entry = read.entries.at(i);
        QJSValue object = engine->newObject();
        object.setProperty(host, entry.host);
        object.setProperty(port, entry.port);
        if (entry.type != ProxyType::Http)
            object.setProperty(type, proxyTypeName(entry.type));
        if (!entry.user.isEmpty())
            object.setProperty(user, entry.user);
        if (!entry.password.isEmpty())
            object.setProperty(password, entry.password);
        entries.setProperty(quint32(i), object);
    }
    QJSValue result = engine->newObject();
    result.setProperty(QStringLiteral("entries"), entries);
    result.setProperty(QStringLiteral("skipped"), double(read.skipped));
    return result;
}

QString ListTools::clipboardText() const
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::clipboard()->text()
                                                                         : QString();
}

void ListTools::setClipboardText(const QString &text, bool secret) const
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    auto *data = new QMimeData;
    data->setText(text);
    // Clipboard managers keep no history of what is marked so.
    if (secret)
        data->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(data);
}

bool ListTools::keepSettingsPrivate() const
{
    const QString path = QSettings().fileName();
    if (path.startsWith(u"\\HKEY")) // the Windows registry: per user already
        return true;
    constexpr auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    if (!QFileInfo::exists(path)) {
        // Created private before the store writes the first password into it.
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        return file.open(QIODevice::WriteOnly, ownerOnly);
    }
    return QFile::setPermissions(path, ownerOnly);
}
