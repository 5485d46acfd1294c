#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <functional>

// Finds one text in a body that arrives in pieces of any size, holding no
// more than the text's length: a match may straddle two pieces, and the body
// may be far longer than anything kept of it.
class TextSearch
{
public:
    explicit TextSearch(const QByteArray &text = {}) : m_text(text) {}

    bool active() const { return !m_text.isEmpty(); }
    bool found() const { return m_found; }

    void feed(const char *data, qsizetype size)
    {
        if (m_found || m_text.isEmpty() || size <= 0)
            return;
        const qsizetype keep = m_text.size() - 1;
        // Across the seam: the end of what came before and the start of this piece.
        if (!m_tail.isEmpty()) {
            const QByteArray seam = m_tail + QByteArray::fromRawData(data, qMin(size, keep));
            if (seam.contains(m_text))
                return void(m_found = true);
        }
        const std::boyer_moore_horspool_searcher searcher(m_text.cbegin(), m_text.cend());
        if (std::search(data, data + size, searcher) != data + size)
            return void(m_found = true);
        if (size >= keep)
            m_tail = QByteArray(data + size - keep, keep);
        else
            m_tail = (m_tail + QByteArray(data, size)).right(keep);
    }

private:
    QByteArray m_text; // UTF-8
    QByteArray m_tail; // the last bytes seen, one fewer than the text
    bool m_found { false };
};
