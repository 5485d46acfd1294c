#include "results.h"

#include "proxylines.h"

#include <algorithm>

namespace {

// Error texts and hosts read from a JSON list go onto one line of their own.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return text;
}

QByteArray jsonString(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (uchar(c) < 0x20)
            out += "\\u00" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out + '"';
}

// RFC 4180: quoted when it holds a comma, a quotation mark or a line break.
// What the run found out of a working proxy, as further members.
QByteArray profileMembers(const QVariantMap &profile)
{
    QByteArray out;
    for (const char *key : { "exitAddress", "anonymity", "country" }) {
        if (const QVariant value = profile.value(QLatin1String(key)); value.isValid())
            out += ", \"" + QByteArray(key) + "\": " + jsonString(value.toString());
    }
    if (const QVariant altered = profile.value(QStringLiteral("altered")); altered.isValid())
        out += altered.toBool() ? ", \"altered\": true" : ", \"altered\": false";
    return out;
}

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r'))
        bytes = '"' + bytes.replace("\"", "\"\"") + '"';
    return bytes;
}

} // namespace

const char *outcomeName(Results::Outcome outcome)
{
    static const char *const names[] = { "alive", "timeout", "dead", "dns_fail", "pending" };
    return names[int(outcome)];
}

Results::Results(QList<ProxyAddress> proxies)
    : m_proxies(std::move(proxies))
    , m_outcomes(size_t(m_proxies.size()), Outcome::Pending)
    , m_milliseconds(size_t(m_proxies.size()), -1)
    , m_errors(size_t(m_proxies.size()))
    , m_profiles(size_t(m_proxies.size()))
{
    m_counts[int(Outcome::Pending)] = m_proxies.size();
}

void Results::record(int index, const QString &status, const QString &error)
{
    if (index < 0 || index >= size() || m_outcomes[size_t(index)] != Outcome::Pending)
        return;
    Outcome outcome = Outcome::Pending;
    for (const Outcome known : { Outcome::Alive, Outcome::Timeout, Outcome::Dead, Outcome::DnsFail }) {
        if (status == QLatin1String(outcomeName(known)))
            outcome = known;
    }
    if (outcome == Outcome::Pending)
        return; // "testing"
    m_outcomes[size_t(index)] = outcome;
    m_errors[size_t(index)] = error;
    --m_counts[int(Outcome::Pending)];
    ++m_counts[int(outcome)];
}

void Results::setLatency(int index, int milliseconds)
{
    if (index >= 0 && index < size())
        m_milliseconds[size_t(index)] = milliseconds;
}

void Results::setProfile(int index, const QVariantMap &profile)
{
    if (index >= 0 && index < size())
        m_profiles[size_t(index)] = profile;
}

QByteArray Results::textLine(qsizetype i, bool all) const
{
    const ProxyAddress &proxy = m_proxies.at(i);
    QString line = formatProxyLine(proxy);
    if (line.isEmpty()) // a host from a JSON list that is no host name
        line = oneLine(proxy.host) + u':' + QString::number(proxy.port);
    if (all) {
        const int ms = m_milliseconds[size_t(i)];
        line += u'\t' + QLatin1String(outcomeName(m_outcomes[size_t(i)])) + u'\t'
            + (ms < 0 ? QStringLiteral("-") : QString::number(ms)) + u'\t' + oneLine(m_errors[size_t(i)]);
    }
    return line.toUtf8() + '\n';
}

QByteArray Results::jsonObject(qsizetype i) const
{
    const ProxyAddress &proxy = m_proxies.at(i);
    const int ms = m_milliseconds[size_t(i)];
    const QVariantMap &profile = m_profiles[size_t(i)];
    QByteArray out = "  {\"host\": " + jsonString(proxy.host) + ", \"port\": " + QByteArray::number(proxy.port)
        + ", \"type\": \"" + profile.value(QStringLiteral("type"), proxyTypeName(proxy.type)).toString().toLatin1() + '"';
    if (!proxy.user.isEmpty())
        out += ", \"user\": " + jsonString(proxy.user);
    if (!proxy.password.isEmpty())
        out += ", \"password\": " + jsonString(proxy.password);
    return out + ", \"status\": \"" + outcomeName(m_outcomes[size_t(i)]) + "\", \"latencyMs\": "
        + (ms < 0 ? QByteArray("null") : QByteArray::number(ms)) + ", \"error\": " + jsonString(m_errors[size_t(i)])
        + profileMembers(profile) + '}';
}

QByteArray Results::csvRow(qsizetype i) const
{
    const ProxyAddress &proxy = m_proxies.at(i);
    const int ms = m_milliseconds[size_t(i)];
    const QVariantMap &profile = m_profiles[size_t(i)];
    const QStringList fields { proxy.host, QString::number(proxy.port), profile.value(QStringLiteral("type"), proxyTypeName(proxy.type)).toString(),
                               proxy.user, proxy.password, QLatin1String(outcomeName(m_outcomes[size_t(i)])),
                               ms < 0 ? QString() : QString::number(ms), m_errors[size_t(i)],
                               profile.value(QStringLiteral("exitAddress")).toString(), profile.value(QStringLiteral("anonymity")).toString(),
                               profile.value(QStringLiteral("country")).toString() };
    QByteArray row;
    for (const QString &field : fields)
        row += csvField(field) + ',';
    row.back() = '\r';
    return row + '\n';
}

void Results::write(std::FILE *out, const CheckOptions &options) const
{
    std::vector<qsizetype> order;
    order.reserve(size_t(size()));
    for (qsizetype i = 0; i < size(); ++i) {
        const Outcome outcome = m_outcomes[size_t(i)];
        if (outcome == Outcome::Alive || (options.all && outcome != Outcome::Pending))
            order.push_back(i);
    }
    if (options.byLatency) {
        // Working proxies fastest first, then timeout, dead, DNS fail; each in list order.
        std::stable_sort(order.begin(), order.end(), [this](qsizetype a, qsizetype b) {
            return std::pair(m_outcomes[size_t(a)], m_milliseconds[size_t(a)])
                < std::pair(m_outcomes[size_t(b)], m_milliseconds[size_t(b)]);
        });
    }
    using Format = CheckOptions::Format;
    QByteArray buffer = options.format == Format::Json ? "[" : options.format == Format::Csv
            ? "host,port,type,user,password,status,latency_ms,error,exit_address,level,country\r\n"
            : "";
    for (size_t k = 0; k < order.size(); ++k) {
        if (options.format == Format::Json)
            buffer += (k == 0 ? "\n" : ",\n") + jsonObject(order[k]);
        else
            buffer += options.format == Format::Csv ? csvRow(order[k]) : textLine(order[k], options.all);
        if (buffer.size() >= 1 << 16) {
            std::fwrite(buffer.constData(), 1, size_t(buffer.size()), out);
            buffer.truncate(0);
        }
    }
    if (options.format == Format::Json)
        buffer += order.empty() ? "]\n" : "\n]\n";
    std::fwrite(buffer.constData(), 1, size_t(buffer.size()), out);
    std::fflush(out);
}
