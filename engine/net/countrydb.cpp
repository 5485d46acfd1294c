#include "countrydb.h"

#include <QFile>
#include <QtEndian>

#include <maxminddb.h>

#include <cerrno>
#include <cstring>

void CountryDb::Close::operator()(MMDB_s *db) const
{
    MMDB_close(db);
    delete db;
}

CountryDb::CountryDb() = default;
CountryDb::~CountryDb() = default;

bool CountryDb::setPath(const QString &path)
{
    if (path == m_path && (isOpen() || path.isEmpty()))
        return true; // a file that failed is tried again
    m_db.reset();
    m_path = path;
    m_error.clear();
    if (path.isEmpty())
        return true;
    auto db = std::make_unique<MMDB_s>();
    errno = 0;
    const int status = MMDB_open(QFile::encodeName(path).constData(), MMDB_MODE_MMAP, db.get());
    if (status != MMDB_SUCCESS) {
        const QString why = status == MMDB_IO_ERROR && errno ? qt_error_string(errno) : QString::fromUtf8(MMDB_strerror(status));
        m_error = QStringLiteral("Cannot read the country database: %1: %2").arg(path, why);
        return false;
    }
    m_db.reset(db.release());
    return true;
}

QString CountryDb::country(const QHostAddress &address) const
{
    if (!m_db || address.isNull())
        return {};
    bool v4 = false;
    const quint32 ipv4 = address.toIPv4Address(&v4); // an IPv4-mapped IPv6 address too
    sockaddr_in in4 {};
    sockaddr_in6 in6 {};
    if (v4) {
        in4.sin_family = AF_INET;
        in4.sin_addr.s_addr = qToBigEndian(ipv4);
    } else {
        in6.sin6_family = AF_INET6;
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6.sin6_addr, bytes.c, sizeof bytes.c);
    }
    int error = MMDB_SUCCESS;
    MMDB_lookup_result_s found = MMDB_lookup_sockaddr(m_db.get(), v4 ? reinterpret_cast<const sockaddr *>(&in4) : reinterpret_cast<const sockaddr *>(&in6), &error);
    if (error != MMDB_SUCCESS || !found.found_entry)
        return {};
    // "country" (where the address is used) before "registered_country"; a
    // map with "iso_code" in MaxMind's layout, a plain code in some others.
    for (const char *key : { "country", "registered_country" }) {
        MMDB_entry_data_s data {};
        if (MMDB_get_value(&found.entry, &data, key, nullptr) != MMDB_SUCCESS || !data.has_data)
            continue;
        if (data.type == MMDB_DATA_TYPE_MAP && (MMDB_get_value(&found.entry, &data, key, "iso_code", nullptr) != MMDB_SUCCESS || !data.has_data))
            continue;
        if (data.type != MMDB_DATA_TYPE_UTF8_STRING || data.data_size != 2)
            continue;
        const QString code = QString::fromLatin1(data.utf8_string, 2).toUpper();
        if (code[0].isLetter() && code[1].isLetter() && code[0].unicode() < 128 && code[1].unicode() < 128)
            return code;
    }
    return {};
}
