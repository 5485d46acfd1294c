#pragma once

#include <QByteArray>
#include <QCryptographicHash>

#include <memory>

// What a run compares of an answer body and reads a judge's echo from: its
// first `kept` bytes as they came, its whole length, and a hash of what lies
// past those bytes, computed as it streams. Memory stays bounded however long
// the body is, and a body no longer than `kept` costs no hashing at all.
class BodyCopy
{
public:
    static constexpr qsizetype kept = 64 * 1024;

    void append(const char *data, qsizetype size)
    {
        m_length += size;
        const qsizetype take = qMin(size, kept - m_head.size());
        if (take > 0)
            m_head.append(data, take);
        if (take < size) {
            if (!m_tail)
                m_tail = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
            m_tail->addData(QByteArrayView(data + take, size - take));
        }
    }

    const QByteArray &head() const { return m_head; }
    qint64 length() const { return m_length; }

    // The hash of the bytes past the kept ones; empty when there are none.
    QByteArray digest() const { return m_tail ? m_tail->result() : m_digest; }
    // The same bytes, as far as a hash can tell past the kept ones.
    bool sameAs(const BodyCopy &other) const
    {
        return m_length == other.m_length && m_head == other.m_head && digest() == other.digest();
    }

    BodyCopy() = default;
    BodyCopy(BodyCopy &&) = default;
    BodyCopy &operator=(BodyCopy &&) = default;
    // A copy is made of a body that has ended: it takes the hash as it stands.
    BodyCopy(const BodyCopy &other) : m_head(other.m_head), m_length(other.m_length), m_digest(other.digest()) {}
    BodyCopy &operator=(const BodyCopy &other) { return *this = BodyCopy(other); }

private:
    QByteArray m_head;
    qint64 m_length { 0 };
    QByteArray m_digest;
    std::unique_ptr<QCryptographicHash> m_tail;
};
