#include "httpresponse.h"

#include "wiretext.h"

#include <cstring>

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

void HttpResponse::fail(const QString &error)
{
    m_state = State::Failed;
    m_error = error;
    m_line.clear();
}

void HttpResponse::complete()
{
    m_body.finish();
    m_state = State::Complete;
    m_line.clear();
}

// One line ending in LF (a CR before it is dropped), collected across feeds;
// `line` shows it until the next call. A line that arrives whole is read where
// it lies, and a collected one in a buffer that is kept for the next.
bool HttpResponse::takeLine(const char *data, qsizetype size, qsizetype &used, QByteArrayView &line)
{
    if (m_lineTaken) {
        m_line.resize(0);
        m_lineTaken = false;
    }
    const char *end = static_cast<const char *>(std::memchr(data + used, '\n', size_t(size - used)));
    const qsizetype upto = end ? end - data : size;
    const qsizetype length = upto - used;
    if (m_line.size() + length > maxLine) {
        fail(QStringLiteral("HTTP header line too long"));
        return false;
    }
    const char *start = data + used;
    used = end ? upto + 1 : size;
    if (end && m_line.isEmpty()) {
        line = QByteArrayView(start, length);
    } else {
        m_line.append(start, length);
        if (!end)
            return false;
        line = m_line;
        m_lineTaken = true;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}

qsizetype HttpResponse::feed(const char *data, qsizetype size)
{
    qsizetype used = 0;
    while (used < size && (m_state == State::Head || m_state == State::Body)) {
        if (m_state == State::Body) {
            used += bodyBytes(data + used, size - used);
            continue;
        }
        const qsizetype before = used;
        QByteArrayView line;
        const bool whole = takeLine(data, size, used, line);
        m_headSize += used - before;
        if (m_state == State::Failed)
            break;
        if (m_headSize > maxHead) {
            fail(QStringLiteral("HTTP header section too long"));
            break;
        }
        if (whole) {
            headLine(line);
        } else if (!m_sawStatus && std::memcmp(m_line.constData(), "HTTP/", size_t(qMin<qsizetype>(5, m_line.size()))) != 0) {
            // Not an HTTP answer: say so now, not at a line end that may never come.
            fail(QStringLiteral("Invalid HTTP response from the proxy"));
            break;
        }
    }
    return used;
}

void HttpResponse::headLine(QByteArrayView line)
{
    if (!m_sawStatus) {
        // "HTTP/1.1 200 OK"; the reason phrase may be missing.
        if (!line.startsWith("HTTP/") || line.size() < 12 || !isDigit(line.at(5)) || line.at(6) != '.'
            || !isDigit(line.at(7)) || line.at(8) != ' ' || !isDigit(line.at(9)) || !isDigit(line.at(10))
            || !isDigit(line.at(11)) || (line.size() > 12 && line.at(12) != ' ')) {
            fail(QStringLiteral("Invalid HTTP response from the proxy"));
            return;
        }
        m_sawStatus = true;
        m_status = line.sliced(9, 3).toInt();
        m_reason = line.sliced(qMin<qsizetype>(13, line.size())).trimmed().toByteArray();
        return;
    }
    if (!line.isEmpty()) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return; // a malformed field is skipped, as browsers do
        // Read in place: every answer has a few fields, and most are of no interest.
        const QByteArrayView name = line.first(colon).trimmed();
        const QByteArrayView value = line.sliced(colon + 1).trimmed();
        const auto is = [&name](const char *field) { return name.compare(field, Qt::CaseInsensitive) == 0; };
        if (is("location")) {
            m_location = value.toByteArray();
        } else if (is("www-authenticate")) {
            m_basicChallenge = m_basicChallenge || (value.size() >= 5 && value.first(5).compare("basic", Qt::CaseInsensitive) == 0);
        } else if (is("transfer-encoding")) {
            m_chunkedCoding = value.toByteArray().toLower().contains("chunked");
        } else if (is("content-length")) {
            // Repeated, or as a list, the values must agree (RFC 9110, 8.6):
            // which one framed the body would be a guess.
            for (QByteArrayView rest = value;;) {
                const qsizetype comma = rest.indexOf(',');
                bool ok = false;
                const qint64 length = (comma < 0 ? rest : rest.first(comma)).trimmed().toLongLong(&ok);
                if (!ok || length < 0)
                    return fail(QStringLiteral("Invalid Content-Length in the HTTP response"));
                if (m_contentLength >= 0 && length != m_contentLength)
                    return fail(QStringLiteral("Conflicting Content-Length in the HTTP response"));
                m_contentLength = length;
                if (comma < 0)
                    break;
                rest = rest.sliced(comma + 1);
            }
        }
        return;
    }
    endOfHead();
}

void HttpResponse::endOfHead()
{
    if (m_status >= 100 && m_status < 200 && m_status != 101) {
        // An interim answer; the real one follows.
        m_sawStatus = false;
        m_status = 0;
        m_reason.clear();
        m_location.clear();
        m_basicChallenge = false;
        m_chunkedCoding = false;
        m_contentLength = -1;
        return;
    }
    if (m_headOnly || m_status == 204 || m_status == 304) {
        complete();
        return;
    }
    if (m_chunkedCoding) {
        m_framing = Framing::Chunked;
        m_chunk = Chunk::Size;
    } else if (m_contentLength >= 0) {
        m_framing = Framing::Length;
        m_remaining = m_contentLength;
    } else {
        m_framing = Framing::Close;
    }
    m_state = State::Body;
    if (m_framing == Framing::Length && m_remaining == 0)
        complete();
}

qsizetype HttpResponse::bodyBytes(const char *data, qsizetype size)
{
    switch (m_framing) {
    case Framing::Close:
        bodyData(data, size);
        return size;
    case Framing::Length: {
        const qsizetype take = qsizetype(qMin<qint64>(m_remaining, size));
        bodyData(data, take);
        m_remaining -= take;
        if (m_remaining == 0)
            complete();
        return take;
    }
    case Framing::Chunked:
        break;
    case Framing::None:
        return size;
    }

    if (m_chunk == Chunk::Data) {
        const qsizetype take = qsizetype(qMin<qint64>(m_remaining, size));
        bodyData(data, take);
        m_remaining -= take;
        if (m_remaining == 0)
            m_chunk = Chunk::DataEnd;
        return take;
    }
    qsizetype used = 0;
    QByteArrayView line;
    if (!takeLine(data, size, used, line))
        return used;
    switch (m_chunk) {
    case Chunk::Size: {
        qint64 value = 0;
        int digits = 0;
        for (char c : line) {
            const int digit = hexValue(c);
            if (digit < 0)
                break;
            if (++digits > 15) {
                fail(QStringLiteral("Invalid chunk size in the HTTP response"));
                return used;
            }
            value = value * 16 + digit;
        }
        if (digits == 0) {
            fail(QStringLiteral("Invalid chunk size in the HTTP response"));
            return used;
        }
        m_remaining = value;
        m_chunk = value == 0 ? Chunk::Trailer : Chunk::Data;
        break;
    }
    case Chunk::DataEnd:
        if (!line.isEmpty()) {
            fail(QStringLiteral("Invalid chunk in the HTTP response"));
            return used;
        }
        m_chunk = Chunk::Size;
        break;
    case Chunk::Trailer:
        if (line.isEmpty())
            complete();
        break;
    case Chunk::Data:
        break;
    }
    return used;
}

void HttpResponse::finish()
{
    if (m_state == State::Body && m_framing == Framing::Close) {
        complete();
        return;
    }
    if (m_state == State::Head || m_state == State::Body)
        fail(m_sawStatus || m_headSize > 0 ? QStringLiteral("Connection closed before the answer was complete")
                                           : QStringLiteral("Connection closed"));
}
