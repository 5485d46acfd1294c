#include "bodypreview.h"

void BodyPreview::append(const char *data, qsizetype size)
{
    if (size <= 0 || m_more)
        return;
    // Decode whole sequences only; a sequence cut by the chunk's end waits
    // for the next chunk, so the text is what decoding the whole body gives.
    QByteArray bytes = m_carry + QByteArray::fromRawData(data, size);
    qsizetype cut = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const auto byte = static_cast<unsigned char>(bytes.at(bytes.size() - back));
        if ((byte & 0xC0) == 0x80)
            continue;
        const int length = byte >= 0xC2 && byte <= 0xDF ? 2 : byte >= 0xE0 && byte <= 0xEF ? 3
                : byte >= 0xF0 && byte <= 0xF4                                             ? 4
                                                                                            : 1;
        if (length > back)
            cut = bytes.size() - back;
        break;
    }
    m_carry = bytes.mid(cut);
    appendText(QString::fromUtf8(bytes.constData(), cut));
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
    if (!m_more && !m_carry.isEmpty())
        appendText(QString::fromUtf8(m_carry));
    m_carry.clear();
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
