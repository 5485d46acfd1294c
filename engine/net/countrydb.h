#pragma once

#include <QHostAddress>
#include <QString>

#include <memory>

struct MMDB_s;

// The country an address is registered in, from a MaxMind DB file (.mmdb: the
// free country and city databases, and others of their layout), read with
// libmaxminddb through a memory map. The file is opened once per change of
// path; a file that cannot be read gives one error line and no countries.
// Lookups never touch the network.
class CountryDb
{
public:
    CountryDb();
    ~CountryDb();
    CountryDb(const CountryDb &) = delete;
    CountryDb &operator=(const CountryDb &) = delete;

    // Opens the file, unless it is the one open already; an empty path closes
    // it. False when it cannot be read; error() then says why.
    bool setPath(const QString &path);
    QString path() const { return m_path; }
    bool isOpen() const { return bool(m_db); }
    // "Cannot read the country database: PATH: why", or empty.
    QString error() const { return m_error; }

    // The ISO 3166 code ("DE"), or empty: no database, or the address is not in it.
    QString country(const QHostAddress &address) const;

private:
    struct Close
    {
        void operator()(MMDB_s *db) const;
    };
    QString m_path;
    QString m_error;
    std::unique_ptr<MMDB_s, Close> m_db;
};
