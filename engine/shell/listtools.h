#pragma once

#include <QJSValue>
#include <QObject>
#include <QString>
#include <QVariantList>

// The list readers, the clipboard and the settings file to the pages, as the
// singleton ListTools. Entries are maps
// {host, port, type?, user?, password?}, the optional members only when not
// the default, as in the proxy list JSON.
class ListTools : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // { entries: [...], skipped: n }, made as script values at once: a
    // hundred thousand maps converted one by one take five times as long.
    Q_INVOKABLE QJSValue parse(const QString &text) const;

    Q_INVOKABLE QString clipboardText() const;
    // secret: the text holds passwords.
    Q_INVOKABLE void setClipboardText(const QString &text, bool secret = false) const;

    // The settings store is about to hold passwords: from now on only its
    // owner may read it (the store's later rewrites keep the mode).
    Q_INVOKABLE bool keepSettingsPrivate() const;
};
