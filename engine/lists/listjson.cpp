#include "listjson.h"

#include "proxylines.h"
#include "scriptvalues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>

namespace ListJson {

QString hostFrom(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return scriptNumberText(value.toDouble());
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return QString();
    }
}

double portFrom(const QJsonValue &value)
{
    double port = 0;
    if (value.isDouble())
        port = value.toDouble();
    else if (value.isString() && !value.toString().trimmed().isEmpty())
        port = scriptNumber(value.toString());
    return std::isfinite(port) ? port : 0;
}

int portNumber(double port)
{
    return std::abs(port) < 2147483647.0 ? int(qRound64(port)) : 0;
}

// A credential that is not text reads as none; a type that names none makes
// the element unreadable, as a null one is, since its proxy could only fail.
std::optional<ListEntry> entryFrom(const QJsonObject &element)
{
    ListEntry entry;
    const QJsonValue type = element.value(QLatin1String("type"));
    if (!type.isUndefined()) {
        const std::optional<ProxyType> known = proxyTypeFromName(type.toString());
        if (!known)
            return std::nullopt;
        entry.proxy.type = *known;
    }
    entry.proxy.host = hostFrom(element.value(QLatin1String("host")));
    entry.port = portFrom(element.value(QLatin1String("port")));
    entry.proxy.port = portNumber(entry.port);
    entry.proxy.user = element.value(QLatin1String("user")).toString();
    entry.proxy.password = element.value(QLatin1String("password")).toString();
    return entry;
}

// An element of a list: null (or missing, in an object that poses as a list)
// cannot be read, nor can a proxy of an unknown type; any other value is a
// proxy, whose members it may lack.
std::optional<ListEntry> elementEntry(const QJsonValue &element)
{
    if (element.isNull() || element.isUndefined())
        return std::nullopt;
    return entryFrom(element.toObject());
}

// The number a script compares a list's "length" with; NaN reads no element.
double lengthOf(const QJsonValue &length)
{
    switch (length.type()) {
    case QJsonValue::Double:
        return length.toDouble();
    case QJsonValue::Bool:
        return length.toBool() ? 1 : 0;
    case QJsonValue::Null:
        return 0;
    case QJsonValue::String:
        return length.toString().trimmed().isEmpty() ? 0 : scriptNumber(length.toString());
    default:
        return std::nan("");
    }
}

QVariant portVariant(double port)
{
    return port == std::trunc(port) && std::abs(port) < 2147483648.0 ? QVariant(int(port)) : QVariant(port);
}

// Writes JSON.stringify's text of a list into a buffer that is large enough:
// a hundred thousand rows are written within a few milliseconds.
struct JsonWriter
{
    char16_t *at;

    void raw(QLatin1String text)
    {
        for (char c : text)
            *at++ = char16_t(uchar(c));
    }
    void raw(QStringView text)
    {
        std::copy(text.utf16(), text.utf16() + text.size(), at);
        at += text.size();
    }
    // Quotation mark, backslash and control characters escaped, everything
    // else as it is, Cyrillic included.
    void quoted(QStringView text)
    {
        *at++ = u'"';
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            if (u >= 0x20 && u != u'"' && u != u'\\') {
                *at++ = u;
                continue;
            }
            *at++ = u'\\';
            switch (u) {
            case u'"': *at++ = u'"'; break;
            case u'\\': *at++ = u'\\'; break;
            case u'\b': *at++ = u'b'; break;
            case u'\f': *at++ = u'f'; break;
            case u'\n': *at++ = u'n'; break;
            case u'\r': *at++ = u'r'; break;
            case u'\t': *at++ = u't'; break;
            default:
                raw(QLatin1String("u00"));
                *at++ = char16_t("0123456789abcdef"[u >> 4]);
                *at++ = char16_t("0123456789abcdef"[u & 0xf]);
            }
        }
        *at++ = u'"';
    }
    void number(double value)
    {
        if (value >= 0 && value < 1e9 && value == std::trunc(value)) {
            char16_t digits[10];
            int n = 0;
            for (unsigned v = unsigned(value); n == 0 || v; v /= 10)
                digits[n++] = char16_t(u'0' + v % 10);
            while (n)
                *at++ = digits[--n];
            return;
        }
        raw(scriptNumberText(value));
    }
    // Most characters a member can take: escapes take six for one.
    static qsizetype bound(QStringView text) { return 6 * text.size(); }
};

ListEntry entryFromMap(QVariantMap map)
{
    // The pages' own rows: a type they do not know is the default one.
    if (!proxyTypeFromName(map.value(QStringLiteral("type"), QStringLiteral("http")).toString()))
        map.remove(QStringLiteral("type"));
    ListEntry entry = *entryFrom(QJsonObject::fromVariantMap(map));
    entry.status = map.value(QStringLiteral("status"), entry.status).toString();
    entry.response = map.value(QStringLiteral("response")).toString();
    entry.latency = map.value(QStringLiteral("latency"), -1).toInt();
    return entry;
}

QString write(const QList<ListEntry> &rows, bool indented)
{
    if (rows.isEmpty())
        return QStringLiteral("[]");
    const QLatin1String open(indented ? "[\n    {\n        \"" : "[{\""), between(indented ? "\n    },\n    {\n        \"" : "},{\""),
            close(indented ? "\n    }\n]" : "}]"), member(indented ? ",\n        \"" : ",\""), colon(indented ? "\": " : "\":");
    qsizetype bound = 16;
    for (const ListEntry &entry : rows)
        bound += 200 + JsonWriter::bound(entry.proxy.host) + JsonWriter::bound(entry.proxy.user) + JsonWriter::bound(entry.proxy.password);
    QString out(bound, Qt::Uninitialized);
    auto *begin = reinterpret_cast<char16_t *>(out.data());
    JsonWriter w { begin };
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ListEntry &entry = rows.at(i);
        w.raw(i == 0 ? open : between);
        w.raw(QLatin1String("host"));
        w.raw(colon);
        w.quoted(entry.proxy.host);
        w.raw(member);
        w.raw(QLatin1String("port"));
        w.raw(colon);
        w.number(entry.port);
        // Written only when they say more than a plain list does, so that a
        // plain list is written as it always was.
        const std::pair<const char *, QString> optional[] = {
            { "type", entry.proxy.type != ProxyType::Http ? proxyTypeName(entry.proxy.type) : QString() },
            { "user", entry.proxy.user }, { "password", entry.proxy.password } };
        for (const auto &[name, value] : optional) {
            if (value.isEmpty())
                continue;
            w.raw(member);
            w.raw(QLatin1String(name));
            w.raw(colon);
            w.quoted(value);
        }
    }
    w.raw(close);
    out.truncate(w.at - begin);
    return out;
}

// Where the element after the first `count` of a JSON array text begins (its
// comma), found without parsing; -1 when the array holds no more than that.
static qsizetype pastElements(QStringView text, qsizetype count)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i == text.size() || text[i] != u'[')
        return -1;
    int depth = 0;
    bool inString = false;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (inString) {
            if (c == u'\\')
                ++i;
            else if (c == u'"')
                inString = false;
        } else if (c == u'"') {
            inString = true;
        } else if (c == u'[' || c == u'{') {
            ++depth;
        } else if (c == u']' || c == u'}') {
            if (--depth == 0)
                return -1;
        } else if (c == u',' && depth == 1 && --count == 0) {
            return i;
        }
    }
    return -1;
}

ReadResult read(const QString &whole, Reading reading)
{
    ReadResult result;
    // A list longer than any the program keeps is refused before it is
    // parsed (an import), or read up to the limit (a stored list): a few
    // megabytes of "{}," would otherwise take gigabytes.
    QString text = whole;
    if (const qsizetype cut = pastElements(whole, ProxyLineLimits::maxEntries); cut >= 0) {
        if (reading == Reading::Imported) {
            result.tooLong = true;
            result.error = QStringLiteral("the list holds more than %1 proxies").arg(ProxyLineLimits::maxEntries);
            return result;
        }
        QMessageLogger(nullptr, 0, nullptr).debug("Stored proxy list holds more than %lld proxies; the rest is left out",
                                                  qint64(ProxyLineLimits::maxEntries));
        text = whole.left(cut) + u']';
    }
    // Wrapped in a list, so that any JSON value parses, as it does in a
    // script, and a text of more than one value does not.
    if (const qsizetype bad = strictJsonStringFault(text); bad >= 0) {
        result.unparsed = true;
        result.error = QStringLiteral("bad string at character %1").arg(bad);
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(QStringLiteral("[%1]").arg(text).toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || document.array().size() != 1) {
        result.unparsed = true;
        result.error = QStringLiteral("%1 at character %2")
                               .arg(parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                                  : QStringLiteral("not one JSON value"))
                               .arg(qMax(0, parseError.offset - 1));
        return result;
    }
    const QJsonValue value = document.array().first();

    auto readElements = [&result](qsizetype length, auto elementAt) {
        result.entries.reserve(length);
        for (qsizetype i = 0; i < length; ++i) {
            std::optional<ListEntry> entry = elementEntry(elementAt(i));
            if (!entry) {
                result.error = QStringLiteral("element %1 of the list cannot be read").arg(i);
                return;
            }
            result.entries.append(std::move(*entry));
        }
    };

    if (reading == Reading::Imported) {
        if (!value.isArray())
            result.error = QStringLiteral("a proxy list must be a JSON array");
        else
            readElements(value.toArray().size(), [array = value.toArray()](qsizetype i) { return array.at(i); });
        if (!result.error.isEmpty())
            result.entries.clear();
        return result;
    }

    // A stored value that is no list (an object without a numeric length, a
    // number, a boolean, a text) holds no entries; null cannot be read.
    if (value.isNull()) {
        result.error = QStringLiteral("the stored list is null");
    } else if (value.isArray()) {
        readElements(value.toArray().size(), [array = value.toArray()](qsizetype i) { return array.at(i); });
    } else if (value.isObject()) {
        // An object with a numeric length reads its members "0", "1", … as a
        // script reads an array, until the first one it lacks.
        const QJsonObject object = value.toObject();
        const double length = lengthOf(object.value(QLatin1String("length")));
        qsizetype n = 0;
        while (n < length && n < ProxyLineLimits::maxEntries && object.contains(QString::number(n)))
            ++n;
        readElements(n < length && n < ProxyLineLimits::maxEntries ? n + 1 : n, [&object](qsizetype i) { return object.value(QString::number(i)); });
    }
    return result;
}

} // namespace ListJson
