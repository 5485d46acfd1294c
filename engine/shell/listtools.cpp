#include "listtools.h"

#include "listjson.h"
#include "proxylines.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJSEngine>
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

void ListTools::setClipboardText(const QString &text) const
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        QGuiApplication::clipboard()->setText(text);
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

QVariantList ListTools::readList(const QString &text) const
{
    const ListJson::ReadResult result = ListJson::read(text, ListJson::Reading::Imported);
    if (!result.error.isEmpty()) {
        if (QJSEngine *engine = qjsEngine(this))
            engine->throwError(result.unparsed ? QJSValue::SyntaxError : QJSValue::TypeError, result.error);
        return {};
    }
    QVariantList entries;
    entries.reserve(result.entries.size());
    for (const ListEntry &entry : result.entries) {
        QVariantMap map { { QStringLiteral("host"), entry.proxy.host }, { QStringLiteral("port"), ListJson::portVariant(entry.port) } };
        if (entry.proxy.type != ProxyType::Http)
            map.insert(QStringLiteral("type"), proxyTypeName(entry.proxy.type));
        if (!entry.proxy.user.isEmpty())
            map.insert(QStringLiteral("user"), entry.proxy.user);
        if (!entry.proxy.password.isEmpty())
            map.insert(QStringLiteral("password"), entry.proxy.password);
        entries.append(map);
    }
    return entries;
}
