#include "proxylistmodel.h"

#include "proxylines.h"

#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <unordered_set>

namespace {

const QString unknownStatus = QStringLiteral("unknown");
const QString testingStatus = QStringLiteral("testing");
const QString aliveStatus = QStringLiteral("alive");
const QString deadStatus = QStringLiteral("dead");
const QString timeoutStatus = QStringLiteral("timeout");
const QString dnsFailStatus = QStringLiteral("dns_fail");

// A known status as the one shared string of its kind, so that a hundred
// thousand rows do not each hold a copy.
QString shared(const QString &status)
{
    for (const QString *known : { &unknownStatus, &testingStatus, &aliveStatus, &deadStatus, &timeoutStatus, &dnsFailStatus }) {
        if (status == *known)
            return *known;
    }
    return status;
}

// A number as the script engine's String(number) writes it: the shortest
// digits that read back as the same number, in plain or exponent notation by
// the rules of ECMAScript's Number::toString.
QString jsNumber(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0)
        return QStringLiteral("0");
    if (std::abs(value) < 1e15 && value == std::trunc(value))
        return QString::number(qint64(value));
    const QString sign = value < 0 ? QStringLiteral("-") : QString();
    // "d.ddde±x": the digits and the power of ten of the first one.
    const QString scientific = QString::number(std::abs(value), 'e', QLocale::FloatingPointShortest);
    const qsizetype e = scientific.indexOf(QLatin1Char('e'));
    QString digits = scientific.left(e);
    digits.remove(QLatin1Char('.'));
    const int k = int(digits.size());
    const int n = scientific.mid(e + 1).toInt() + 1;
    if (k <= n && n <= 21)
        return sign + digits + QString(n - k, QLatin1Char('0'));
    if (0 < n && n <= 21)
        return sign + digits.left(n) + QLatin1Char('.') + digits.mid(n);
    if (-6 < n && n <= 0)
        return sign + QStringLiteral("0.") + QString(-n, QLatin1Char('0')) + digits;
    const QString exponent = (n - 1 < 0 ? QStringLiteral("e-") : QStringLiteral("e+")) + QString::number(std::abs(n - 1));
    return sign + digits.left(1) + (k > 1 ? QLatin1Char('.') + digits.mid(1) : QString()) + exponent;
}

bool isJsSpace(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x09 && u <= 0x0d) || u == 0x20 || u == 0xa0 || u == 0x1680 || (u >= 0x2000 && u <= 0x200a)
        || u == 0x2028 || u == 0x2029 || u == 0x202f || u == 0x205f || u == 0x3000 || u == 0xfeff;
}

// The script engine's Number(text) for a text that is not blank; NaN when it
// names no number.
double jsNumber(QStringView text)
{
    while (!text.isEmpty() && isJsSpace(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isJsSpace(text.back()))
        text.chop(1);
    const double nan = std::nan("");
    if (text.size() > 2 && text[0] == QLatin1Char('0')) {
        const char16_t radixLetter = text[1].toLower().unicode();
        const int radix = radixLetter == u'x' ? 16 : radixLetter == u'o' ? 8 : radixLetter == u'b' ? 2 : 0;
        if (radix) {
            double value = 0;
            for (QChar c : text.mid(2)) {
                const int digit = c.isDigit() ? c.digitValue() : (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))
                        ? c.toLower().unicode() - u'a' + 10 : 99;
                if (c.unicode() > 0x7f || digit >= radix)
                    return nan;
                value = value * radix + digit;
            }
            return value;
        }
    }
    static const QRegularExpression decimal(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (decimal.match(text).hasMatch())
        return text.toString().toDouble();
    const QStringView unsignedText = text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')) ? text.mid(1) : text;
    if (unsignedText == QLatin1String("Infinity"))
        return text.startsWith(QLatin1Char('-')) ? -INFINITY : INFINITY;
    return nan;
}

// Where the strings of a JSON text break its grammar (a raw control
// character, an unknown escape), which Qt's parser lets pass and a script's
// JSON.parse does not; -1 when they do not.
qsizetype badStringAt(QStringView text)
{
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!inString) {
            inString = c == u'"';
        } else if (c == u'"') {
            inString = false;
        } else if (c < 0x20) {
            return i;
        } else if (c == u'\\') {
            const char16_t escape = i + 1 < text.size() ? text[++i].unicode() : 0;
            if (escape == u'u') {
                for (int k = 0; k < 4; ++k) {
                    if (++i >= text.size() || !isxdigit(text[i].unicode() < 0x80 ? int(text[i].unicode()) : 0))
                        return i;
                }
            } else if (!std::char_traits<char16_t>::find(u"\"\\/bfnrt", 8, escape) || escape == 0) {
                return i;
            }
        }
    }
    return -1;
}

// A host is text: a number or a boolean becomes its text, anything else none.
QString hostFrom(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return jsNumber(value.toDouble());
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return QString();
    }
}

// A port is a finite number: a text is read as a number, and anything else,
// or what names no number, is 0.
double portFrom(const QJsonValue &value)
{
    double port = 0;
    if (value.isDouble())
        port = value.toDouble();
    else if (value.isString() && !value.toString().trimmed().isEmpty())
        port = jsNumber(value.toString());
    return std::isfinite(port) ? port : 0;
}

// The port handed to a run: the whole number a list map would carry, of
// which the probe takes the low 16 bits.
int portNumber(double port)
{
    return std::abs(port) < 2147483647.0 ? int(qRound64(port)) : 0;
}

// A credential that is not text reads as none; a type that names none makes
// the element unreadable, as a null one is, since its proxy could only fail.
std::optional<ProxyListModel::Entry> entryFrom(const QJsonObject &element)
{
    ProxyListModel::Entry entry;
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
    entry.status = unknownStatus;
    return entry;
}

// An element of a list: null (or missing, in an object that poses as a list)
// cannot be read, nor can a proxy of an unknown type; any other value is a
// proxy, whose members it may lack.
std::optional<ProxyListModel::Entry> elementEntry(const QJsonValue &element)
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
        return length.toString().trimmed().isEmpty() ? 0 : jsNumber(length.toString());
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
        raw(jsNumber(value));
    }
    // Most characters a member can take: escapes take six for one.
    static qsizetype bound(QStringView text) { return 6 * text.size(); }
};

} // namespace

ProxyListModel::ProxyListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int ProxyListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant ProxyListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return QVariant();
    const Entry &entry = m_rows.at(index.row());
    switch (role) {
    case HostRole: return entry.proxy.host;
    case PortRole: return portVariant(entry.port);
    case StatusRole: return entry.status;
    case ResponseRole: return entry.response;
    case TypeRole: return proxyTypeName(entry.proxy.type);
    case UserRole: return entry.proxy.user;
    case PasswordRole: return entry.proxy.password;
    case LatencyRole: return entry.latency;
    default: return QVariant();
    }
}

QHash<int, QByteArray> ProxyListModel::roleNames() const
{
    return { { HostRole, "host" }, { PortRole, "port" }, { StatusRole, "status" }, { ResponseRole, "response" },
             { TypeRole, "type" }, { UserRole, "user" }, { PasswordRole, "password" }, { LatencyRole, "latency" } };
}

ProxyListModel::Kind ProxyListModel::kindOf(const QString &status)
{
    if (status == aliveStatus)
        return Alive;
    if (status == deadStatus || status == timeoutStatus)
        return Dead;
    if (status == dnsFailStatus)
        return DnsFail;
    if (status == testingStatus)
        return Testing;
    return Other;
}

void ProxyListModel::setStatus(Entry &entry, const QString &status)
{
    --m_counts[kindOf(entry.status)];
    entry.status = shared(status);
    ++m_counts[kindOf(entry.status)];
}

// A row as the pages hand it over: the members read as a stored list reads
// them, status and response as given.
static ProxyListModel::Entry entryFromMap(QVariantMap map)
{
    // The pages' own rows: a type they do not know is the default one.
    if (!proxyTypeFromName(map.value(QStringLiteral("type"), QStringLiteral("http")).toString()))
        map.remove(QStringLiteral("type"));
    ProxyListModel::Entry entry = *entryFrom(QJsonObject::fromVariantMap(map));
    entry.status = shared(map.value(QStringLiteral("status"), unknownStatus).toString());
    entry.response = map.value(QStringLiteral("response")).toString();
    entry.latency = map.value(QStringLiteral("latency"), -1).toInt();
    return entry;
}

void ProxyListModel::insertEntries(QList<Entry> entries)
{
    if (entries.isEmpty())
        return;
    beginInsertRows(QModelIndex(), count(), count() + int(entries.size()) - 1);
    for (const Entry &entry : std::as_const(entries))
        ++m_counts[kindOf(entry.status)];
    m_rows.append(std::move(entries));
    endInsertRows();
    emit countChanged();
    emit countsChanged();
}

void ProxyListModel::append(const QVariantMap &entry)
{
    insertEntries({ entryFromMap(entry) });
}

void ProxyListModel::appendEntries(const QVariantList &entries)
{
    QList<Entry> rows;
    rows.reserve(entries.size());
    for (const QVariant &entry : entries)
        rows.append(entryFromMap(entry.toMap()));
    insertEntries(std::move(rows));
}

QVariantMap ProxyListModel::get(int row) const
{
    QVariantMap map;
    if (row < 0 || row >= count())
        return map;
    const QHash<int, QByteArray> roles = roleNames();
    for (auto role = roles.cbegin(); role != roles.cend(); ++role)
        map.insert(QString::fromLatin1(role.value()), data(index(row), role.key()));
    return map;
}

void ProxyListModel::set(int row, const QVariantMap &values)
{
    for (auto value = values.cbegin(); value != values.cend(); ++value)
        setProperty(row, value.key(), value.value());
}

void ProxyListModel::setProperty(int row, const QString &role, const QVariant &value)
{
    if (row < 0 || row >= count())
        return;
    Entry &entry = m_rows[row];
    const QJsonValue json = QJsonValue::fromVariant(value);
    int changed = roleNames().key(role.toLatin1(), -1);
    switch (changed) {
    case HostRole: entry.proxy.host = hostFrom(json); break;
    case PortRole: entry.port = portFrom(json); entry.proxy.port = portNumber(entry.port); break;
    case TypeRole: entry.proxy.type = proxyTypeFromName(value.toString()).value_or(ProxyType::Http); break;
    case UserRole: entry.proxy.user = value.toString(); break;
    case PasswordRole: entry.proxy.password = value.toString(); break;
    case ResponseRole: entry.response = value.toString(); break;
    case LatencyRole: entry.latency = value.isValid() ? value.toInt() : -1; break;
    case StatusRole:
        setStatus(entry, value.toString());
        emit dataChanged(index(row), index(row), { changed });
        emit countsChanged();
        return;
    default:
        return;
    }
    emit dataChanged(index(row), index(row), { changed });
}

void ProxyListModel::remove(int row, int count)
{
    if (row < 0 || count <= 0 || row + count > this->count())
        return;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    for (int i = row; i < row + count; ++i)
        --m_counts[kindOf(m_rows.at(i).status)];
    m_rows.remove(row, count);
    endRemoveRows();
    emit countChanged();
    emit countsChanged();
}

void ProxyListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    std::fill(std::begin(m_counts), std::end(m_counts), 0);
    endResetModel();
    emit countChanged();
    emit countsChanged();
}

QString ProxyListModel::toJson(bool indented) const
{
    if (m_rows.isEmpty())
        return QStringLiteral("[]");
    const QLatin1String open(indented ? "[\n    {\n        \"" : "[{\""), between(indented ? "\n    },\n    {\n        \"" : "},{\""),
            close(indented ? "\n    }\n]" : "}]"), member(indented ? ",\n        \"" : ",\""), colon(indented ? "\": " : "\":");
    qsizetype bound = 16;
    for (const Entry &entry : m_rows)
        bound += 200 + JsonWriter::bound(entry.proxy.host) + JsonWriter::bound(entry.proxy.user) + JsonWriter::bound(entry.proxy.password);
    QString out(bound, Qt::Uninitialized);
    auto *begin = reinterpret_cast<char16_t *>(out.data());
    JsonWriter w { begin };
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        const Entry &entry = m_rows.at(i);
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

ProxyListModel::ReadResult ProxyListModel::read(const QString &text, Reading reading)
{
    ReadResult result;
    // Wrapped in a list, so that any JSON value parses, as it does in a
    // script, and a text of more than one value does not.
    if (const qsizetype bad = badStringAt(text); bad >= 0) {
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
            std::optional<Entry> entry = elementEntry(elementAt(i));
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
        while (n < length && object.contains(QString::number(n)))
            ++n;
        readElements(n < length ? n + 1 : n, [&object](qsizetype i) { return object.value(QString::number(i)); });
    }
    return result;
}

bool ProxyListModel::hasCredentials(bool aliveOnly) const
{
    return std::any_of(m_rows.cbegin(), m_rows.cend(), [aliveOnly](const Entry &entry) {
        return (!aliveOnly || entry.status == aliveStatus) && !(entry.proxy.user.isEmpty() && entry.proxy.password.isEmpty());
    });
}

QVariantList ProxyListModel::newEntries(const QVariantList &entries) const
{
    struct Same
    {
        size_t operator()(const ProxyAddress &entry) const { return sameProxyHash(entry); }
        bool operator()(const ProxyAddress &a, const ProxyAddress &b) const { return sameProxy(a, b); }
    };
    std::unordered_set<ProxyAddress, Same, Same> known;
    known.reserve(size_t(m_rows.size() + entries.size()));
    for (const Entry &entry : m_rows)
        known.insert(entry.proxy);
    QVariantList fresh;
    for (const QVariant &entry : entries) {
        if (known.insert(entryFromMap(entry.toMap()).proxy).second)
            fresh.append(entry);
    }
    return fresh;
}

QString ProxyListModel::workingLines() const
{
    QList<ProxyAddress> alive;
    for (const Entry &entry : m_rows) {
        if (entry.status == aliveStatus)
            alive.append(entry.proxy);
    }
    return formatProxyLines(alive);
}

bool ProxyListModel::appendStored(const QString &text)
{
    ReadResult result = read(text, Reading::Stored);
    insertEntries(std::move(result.entries));
    return result.error.isEmpty();
}

QVariantList ProxyListModel::readList(const QString &text)
{
    const ReadResult result = read(text, Reading::Imported);
    if (!result.error.isEmpty()) {
        if (QJSEngine *engine = qjsEngine(this))
            engine->throwError(result.unparsed ? QJSValue::SyntaxError : QJSValue::TypeError, result.error);
        return {};
    }
    QVariantList entries;
    entries.reserve(result.entries.size());
    for (const Entry &entry : result.entries) {
        QVariantMap map { { QStringLiteral("host"), entry.proxy.host }, { QStringLiteral("port"), portVariant(entry.port) } };
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

QList<ProxyAddress> ProxyListModel::resetForRun()
{
    QList<ProxyAddress> proxies;
    proxies.reserve(m_rows.size());
    for (Entry &entry : m_rows) {
        entry.status = unknownStatus;
        entry.response.clear();
        entry.latency = -1;
        proxies.append(entry.proxy);
    }
    std::fill(std::begin(m_counts), std::end(m_counts), 0);
    m_counts[Other] = count();
    if (!m_rows.isEmpty())
        emit dataChanged(index(0), index(count() - 1), { StatusRole, ResponseRole, LatencyRole });
    emit countsChanged();
    return proxies;
}

void ProxyListModel::startRun(QObject *tester)
{
    const QList<ProxyAddress> proxies = resetForRun();
    if (tester)
        QMetaObject::invokeMethod(tester, "testList", Q_ARG(QList<ProxyAddress>, proxies));
}

void ProxyListModel::applyResult(int index, const QString &status, const QString &response, int latency)
{
    if (index < 0 || index >= count())
        return;
    Entry &entry = m_rows[index];
    setStatus(entry, status);
    entry.response = response;
    // An alive row keeps the time that proxyLatency wrote just before it.
    if (latency >= 0 || status != aliveStatus)
        entry.latency = latency;
    emit dataChanged(this->index(index), this->index(index), { StatusRole, ResponseRole, LatencyRole });
    emit countsChanged();
}

void ProxyListModel::stopTesting()
{
    int first = -1, last = -1;
    for (int i = 0; i < count(); ++i) {
        if (m_rows.at(i).status == testingStatus) {
            m_rows[i].status = unknownStatus;
            first = first < 0 ? i : first;
            last = i;
        }
    }
    if (first < 0)
        return;
    m_counts[Other] += m_counts[Testing];
    m_counts[Testing] = 0;
    emit dataChanged(index(first), index(last), { StatusRole });
    emit countsChanged();
}

void ProxyListModel::sortByOutcome()
{
    // Alive first, fastest first; then timeout, dead, dns_fail and the rest.
    auto rank = [](const Entry &entry) {
        const QString &status = entry.status;
        return status == aliveStatus ? 0 : status == timeoutStatus ? 1 : status == deadStatus ? 2 : status == dnsFailStatus ? 3 : 4;
    };
    auto latency = [](const Entry &entry) { return entry.latency < 0 ? std::numeric_limits<qint64>::max() : qint64(entry.latency); };
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<int> order(count());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const Entry &x = m_rows.at(a), &y = m_rows.at(b);
        const int rx = rank(x), ry = rank(y);
        return rx != ry ? rx < ry : rx == 0 && latency(x) < latency(y);
    });
    QList<Entry> sorted;
    sorted.reserve(count());
    QList<int> newRowOf(count());
    for (int i = 0; i < order.size(); ++i) {
        sorted.append(std::move(m_rows[order.at(i)]));
        newRowOf[order.at(i)] = i;
    }
    m_rows = std::move(sorted);
    const QModelIndexList persistent = persistentIndexList();
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (const QModelIndex &old : persistent)
        moved.append(index(newRowOf.at(old.row())));
    changePersistentIndexList(persistent, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
