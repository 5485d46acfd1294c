#pragma once

#include <QString>
#include <QByteArray>

// Keeps what the card's tooltip can show of an answer body: the text with
// white space removed at both ends, cut to 300 UTF-16 units plus "...".
// Memory stays bounded however long the body is.
class BodyPreview
{
public:
    static constexpr qsizetype limit = 300;

    void append(const char *data, qsizetype size);
    // The body has ended: a UTF-8 sequence cut short at its end reads as U+FFFD.
    void finish();
    QString text() const;

private:
    void appendText(QStringView chunk);

    QString m_kept; // leading white space dropped, at most `limit` units
    bool m_more { false }; // something other than white space follows m_kept
    QByteArray m_carry; // the start of a UTF-8 sequence that the next chunk completes
};
