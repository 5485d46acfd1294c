#include "judge.h"

#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringTokenizer>

#include <utility>

namespace {

bool isHex(QChar c)
{
    return c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isNameByte(char c) // of a CGI variable's name
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The items of "a, b, c": the first is the client, the others proxies on the
// way. `first` says whether the client is still to come, across calls.
void addAddresses(JudgeEcho &echo, QStringView list, bool &first)
{
    for (QStringView item : QStringTokenizer(list, u',')) {
        const std::optional<QHostAddress> address = ipLiteral(item.trimmed());
        if (std::exchange(first, false))
            echo.client = address.value_or(QHostAddress());
        else if (address)
            echo.forwarders << *address;
    }
}

void addField(JudgeEcho &echo, const QString &name, const QString &value)
{
    QString &slot = echo.headers[name];
    if (!slot.isEmpty()) // appended in place: a field given many times costs no more than once each
        slot += QLatin1String(", ");
    slot += value;
}

// The few entities an HTML page escapes a value with.
QString decodeEntities(QByteArrayView value)
{
    if (!value.contains('&'))
        return QString::fromUtf8(value);
    static const std::pair<QByteArrayView, char> entities[] = { { "&amp;", '&' }, { "&lt;", '<' }, { "&gt;", '>' },
                                                                { "&quot;", '"' }, { "&#39;", '\'' }, { "&apos;", '\'' } };
    QByteArray out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const auto entity = std::find_if(std::begin(entities), std::end(entities),
                                         [&](const auto &e) { return value[i] == '&' && value.sliced(i).startsWith(e.first); });
        out += entity == std::end(entities) ? value[i] : entity->second;
        if (entity != std::end(entities))
            i += entity->first.size() - 1;
    }
    return QString::fromUtf8(out);
}

// A tag that starts a new line of text: <br>, <p>, </div>, <pre>, <tr>, ...
bool breaksLine(QByteArrayView tag)
{
    if (tag.startsWith('/'))
        tag = tag.sliced(1);
    qsizetype n = 0;
    while (n < tag.size() && n < 8 && isNameByte(tag[n]))
        ++n;
    static const QByteArrayList names { "br", "p", "div", "pre", "tr", "li", "dt", "dd", "table", "hr", "body", "html",
                                        "h1", "h2", "h3", "h4", "h5", "h6" };
    return names.contains(tag.first(n).toByteArray().toLower());
}

// "NAME = value" or "NAME: value": REMOTE_ADDR, or HTTP_ and a field's name.
void cgiLine(QByteArrayView line, JudgeEcho &echo, bool &first, bool &remote)
{
    qsizetype sep = 0;
    while (sep < line.size() && (isNameByte(line[sep]) || line[sep] == ' ' || line[sep] == '\t'))
        ++sep;
    const QByteArrayView name = line.first(sep).trimmed();
    if (sep == line.size() || (line[sep] != '=' && line[sep] != ':') || name.isEmpty() || name.contains(' ') || name.contains('\t'))
        return;
    const QByteArray upper = name.toByteArray().toUpper();
    const QString value = decodeEntities(line.sliced(sep + 1).trimmed());
    if (upper == "REMOTE_ADDR") {
        remote = true;
        addAddresses(echo, value, first);
    } else if (upper.startsWith("HTTP_") && upper.size() > 5) {
        addField(echo, canonicalFieldName(QString::fromLatin1(upper.sliced(5))), value);
    }
}

// Lines of text with the markup taken out: a tag (a '<' and a letter, '/' or
// '!', up to a '>' on the same line) is a space, or a line break when it is
// one (see breaksLine). The next '>' and line end are searched for only once
// each, so a body of unclosed '<' costs no more than any other.
std::optional<JudgeEcho> parseCgi(const QByteArray &body)
{
    JudgeEcho echo;
    bool first = true, remote = false;
    qsizetype close = -1, end = -1; // the first '>' and '\n' at or after where each was last searched from
    const auto next = [&body](qsizetype &found, char c, qsizetype from) {
        if (found < from && found != body.size()) {
            found = body.indexOf(c, from);
            found = found < 0 ? body.size() : found;
        }
        return found;
    };
    QByteArray line;
    const auto flush = [&] {
        cgiLine(line, echo, first, remote);
        line.resize(0); // its room kept for the next line
    };
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\n' || c == '\r') {
            flush();
        } else if (c == '<' && i + 1 < body.size() && (isNameByte(body[i + 1]) || body[i + 1] == '/' || body[i + 1] == '!')
                   && next(close, '>', i) < next(end, '\n', i)) {
            if (breaksLine(QByteArrayView(body).sliced(i + 1, close - i - 1)))
                flush();
            else
                line += ' ';
            i = close;
        } else {
            line += c;
        }
    }
    flush();
    return remote ? std::optional(echo) : std::nullopt;
}

std::optional<JudgeEcho> parseJson(const QByteArray &body)
{
    const QJsonObject top = QJsonDocument::fromJson(body).object();
    const QJsonValue origin = top.contains(u"origin") ? top.value(u"origin") : top.value(u"ip");
    if (!origin.isString() || !top.value(u"headers").isObject())
        return std::nullopt;
    JudgeEcho echo;
    bool first = true;
    addAddresses(echo, origin.toString(), first);
    const QJsonObject headers = top.value(u"headers").toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it) {
        QStringList values; // a string, or an array of them for a field given twice
        for (const QJsonValue &value : it->isArray() ? it->toArray() : QJsonArray { *it })
            if (value.isString())
                values << value.toString();
        if (!values.isEmpty())
            addField(echo, canonicalFieldName(it.key()), values.join(QLatin1String(", ")));
    }
    return echo;
}

} // namespace

QString JudgeEcho::header(QStringView name) const
{
    return headers.value(canonicalFieldName(name));
}

std::optional<JudgeEcho> parseJudgeAnswer(const QByteArray &body)
{
    // A JSON object up to the last '}', from the first '{' that begins a line
    // or else from the first '{' at all: what a page or a proxy put around it
    // (<pre>, a line of script before it) does not hide it.
    qsizetype lineStart = -1;
    bool blank = true; // nothing but white space so far on the line
    for (qsizetype i = 0; i < body.size() && lineStart < 0; ++i) {
        if (body[i] == '{' && blank)
            lineStart = i;
        blank = body[i] == '\n' || (blank && (body[i] == ' ' || body[i] == '\t' || body[i] == '\r'));
    }
    const qsizetype close = body.lastIndexOf('}'), first = body.indexOf('{');
    for (qsizetype open : { lineStart, first == lineStart ? -1 : first })
        if (open >= 0 && close > open)
            if (std::optional<JudgeEcho> echo = parseJson(body.sliced(open, close - open + 1)))
                return echo;
    return parseCgi(body);
}

QString canonicalFieldName(QStringView name)
{
    QString out = name.toString().toLower();
    bool start = true;
    for (QChar &c : out) {
        if (c == u'_')
            c = u'-';
        if (start)
            c = c.toUpper();
        start = c == u'-';
    }
    return out;
}

std::optional<QHostAddress> ipLiteral(QStringView text)
{
    if (text.isEmpty() || text.size() > 45)
        return std::nullopt;
    if (!text.contains(u':')) {
        int parts = 0;
        for (QStringView part : QStringTokenizer(text, u'.')) {
            bool ok = part.size() <= 3 && !(part.size() > 1 && part.startsWith(u'0'));
            for (QChar c : part)
                ok = ok && c.isDigit() && c.unicode() < 128;
            if (!ok || part.isEmpty() || part.toInt() > 255 || ++parts > 4)
                return std::nullopt;
        }
        if (parts != 4)
            return std::nullopt;
    } else if (!std::all_of(text.begin(), text.end(), [](QChar c) { return isHex(c) || c == u':' || c == u'.'; })) {
        return std::nullopt;
    }
    const QHostAddress address(text.toString());
    return address.isNull() ? std::nullopt : std::optional(address);
}

QList<QHostAddress> addressesIn(QStringView text)
{
    const auto addressChar = [](QChar c) { return isHex(c) || c == u'.' || c == u':'; };
    const auto wordChar = [](QChar c) { return c.isLetterOrNumber() || c == u'_'; };
    QList<QHostAddress> found;
    for (qsizetype i = 0, end = 0; i < text.size(); i = qMax(end, i + 1)) {
        for (end = i; end < text.size() && addressChar(text[end]);)
            ++end;
        if (end == i || (i > 0 && wordChar(text[i - 1])) || (end < text.size() && wordChar(text[end])))
            continue; // no run here, or one glued to a word
        QStringView run = text.sliced(i, end - i);
        while (run.endsWith(u'.')) // a sentence's full stop
            run.chop(1);
        if (const auto address = ipLiteral(run))
            found << *address;
        else if (run.contains(u':')) // an IPv4 address with its port
            for (QStringView piece : QStringTokenizer(run, u':'))
                if (const auto address = ipLiteral(piece))
                    found << *address;
    }
    return found;
}
