#pragma once

#include "bodycopy.h"
#include "bodypreview.h"
#include "textsearch.h"

#include <QByteArray>
#include <QString>

// Reads one HTTP/1.x response as it arrives from a proxy: status line, header
// fields, then a body framed by Content-Length, chunked transfer coding or the
// end of the connection. Keeps only what a probe reports: status, reason,
// Location and a bounded preview of the body. Input from a proxy is untrusted:
// every line and the header section as a whole are bounded.
class HttpResponse
{
public:
    enum class State { Head, Body, Complete, Failed };

    static constexpr qsizetype maxLine = 64 * 1024;
    static constexpr qsizetype maxHead = 256 * 1024;

    // A tunnel answer (to CONNECT) ends with its header section.
    explicit HttpResponse(bool headOnly = false) : m_headOnly(headOnly) {}

    // Consumes bytes; returns how many were used (fewer only once complete or failed).
    qsizetype feed(const char *data, qsizetype size);
    // The peer closed the connection.
    void finish();

    State state() const { return m_state; }
    // In a body that only the end of the connection ends: a reset ends it as a close does.
    bool framedByClose() const { return m_state == State::Body && m_framing == Framing::Close; }
    int status() const { return m_status; }
    const QByteArray &reason() const { return m_reason; }
    const QByteArray &location() const { return m_location; }
    const QString &error() const { return m_error; }
    QString body() const { return m_body.text(); }
    // The body's bytes as a run compares them and reads a judge's echo from.
    const BodyCopy &copy() const { return m_copy; }
    BodyCopy takeCopy() { return std::move(m_copy); }
    // The target asks for Basic credentials (a 401 with such a challenge).
    bool basicChallenge() const { return m_basicChallenge; }
    // Searches the whole body for `text` as it streams by.
    void expect(const QByteArray &text) { m_search = TextSearch(text); }
    bool lacksExpected() const { return m_search.active() && !m_search.found(); }

private:
    enum class Framing { None, Length, Chunked, Close };
    enum class Chunk { Size, Data, DataEnd, Trailer };

    bool takeLine(const char *data, qsizetype size, qsizetype &used, QByteArrayView &line);
    void headLine(QByteArrayView line);
    void endOfHead();
    qsizetype bodyBytes(const char *data, qsizetype size);
    void fail(const QString &error);
    void complete();
    void bodyData(const char *data, qsizetype size)
    {
        m_body.append(data, size);
        m_copy.append(data, size);
        m_search.feed(data, size);
    }

    bool m_headOnly;
    State m_state { State::Head };
    QByteArray m_line; // a line that came in pieces
    bool m_lineTaken { false }; // m_line holds the line last taken
    qsizetype m_headSize { 0 };
    bool m_sawStatus { false };
    int m_status { 0 };
    QByteArray m_reason;
    QByteArray m_location;
    bool m_chunkedCoding { false };
    qint64 m_contentLength { -1 };
    Framing m_framing { Framing::None };
    Chunk m_chunk { Chunk::Size };
    qint64 m_remaining { 0 };
    bool m_basicChallenge { false };
    BodyPreview m_body;
    BodyCopy m_copy;
    TextSearch m_search;
    QString m_error;
};
