#include "bodypreview.h"

void BodyPreview::append(const char *data, qsizetype size)
{
    if (size <= 0 || m_more)
        return;
    m_tail.append(data + qMax<qsizetype>(0, size - 3), qMin<qsizetype>(size, 3));
    m_tail = m_tail.right(3);
    const QString chunk = m_decoder.decode(QByteArrayView(data, size));
    appendText(chunk);
}

void BodyPreview::appendText(QStringView chunk)
{
    qsizetype from = 0;
    if (m_kept.isEmpty()) {
        while (from < chunk.size() && chunk.at(from).isSpace())
            ++from;
    }
    const qsizetype take = qMin(limit - m_kept.size(), chunk.size() - from);
    m_kept.append(chunk.mid(from, take));
    for (qsizetype i = from + take; i < chunk.size(); ++i) {
        if (!chunk.at(i).isSpace()) {
            m_more = true;
            return;
        }
    }
}

void BodyPreview::finish()
{
    if (m_more)
        return;
    // Walk back over continuation bytes to the lead byte of the last sequence.
    int continuation = 0;
    for (qsizetype i = m_tail.size() - 1; i >= 0; --i) {
        const auto byte = static_cast<unsigned char>(m_tail.at(i));
        if ((byte & 0xC0) != 0x80) {
            const int needed = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
            if (needed > continuation) {
                const QChar replacement(QChar::ReplacementCharacter);
                appendText(QStringView(&replacement, 1));
            }
            break;
        }
        ++continuation;
    }
    m_tail.clear();
}

QString BodyPreview::text() const
{
    if (m_more)
        return m_kept + QStringLiteral("...");
    qsizetype end = m_kept.size();
    while (end > 0 && m_kept.at(end - 1).isSpace())
        --end;
    return m_kept.left(end);
}
