#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include "listjson.h"
#include "proxyaddress.h"

// The one proxy list of the program, shared by the grid and the settings page.
// Everything that touches every row (reading and writing the list's JSON,
// resetting the rows for a run, sorting, counting) happens here, so that a list
// of a hundred thousand proxies never runs through a script loop.
class ProxyListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(int aliveCount READ aliveCount NOTIFY countsChanged)
    Q_PROPERTY(int deadCount READ deadCount NOTIFY countsChanged)
    Q_PROPERTY(int timeoutCount READ timeoutCount NOTIFY countsChanged)
    Q_PROPERTY(int dnsFailCount READ dnsFailCount NOTIFY countsChanged)
    Q_PROPERTY(int testingCount READ testingCount NOTIFY countsChanged)
    // Rows by the level their last answer showed (any status).
    Q_PROPERTY(int eliteCount READ eliteCount NOTIFY countsChanged)
    Q_PROPERTY(int anonymousCount READ anonymousCount NOTIFY countsChanged)
    Q_PROPERTY(int transparentCount READ transparentCount NOTIFY countsChanged)
    // Whether undo() has a list to go back to.
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY canUndoChanged)

public:
    enum Role { HostRole = Qt::UserRole + 1, PortRole, StatusRole, ResponseRole, TypeRole, UserRole, PasswordRole, LatencyRole,
                AnonymityRole, CountryRole, ExitAddressRole, AlteredRole };

    using Entry = ListEntry;

    explicit ProxyListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(m_rows.size()); }
    int aliveCount() const { return m_counts[Alive]; }
    int deadCount() const { return m_counts[Dead]; }
    int dnsFailCount() const { return m_counts[DnsFail]; }
    int testingCount() const { return m_counts[Testing]; }
    int eliteCount() const { return m_levels[Elite]; }
    int anonymousCount() const { return m_levels[Anonymous]; }
    int transparentCount() const { return m_levels[Transparent]; }
    int timeoutCount() const { return m_counts[Timeout]; }
    bool canUndo() const { return m_canUndo; }
    const Entry &entry(int row) const { return m_rows.at(row); }

    // The calls of a script list model that the pages make.
    Q_INVOKABLE void append(const QVariantMap &entry);
    Q_INVOKABLE QVariantMap get(int row) const;
    Q_INVOKABLE void setProperty(int row, const QString &role, const QVariant &value);
    Q_INVOKABLE void remove(int row, int count = 1);
    Q_INVOKABLE void clear();

    // An imported list, its JSON or its lines, in one call: added to the rows
    // (only the proxies they do not hold yet) or in their place. Nothing
    // changes when nothing reads. { imported, skipped, duplicates,
    // skippedLines (the first few, from 1), error, json (read as JSON),
    // changed (the rows were replaced or added to) }
    // Lines that name no type read as `untyped`: "http", "socks4", "socks5" or "auto".
    Q_INVOKABLE QVariantMap importText(const QString &text, bool append, const QString &untyped = QStringLiteral("http"));
    // Whether any row (any alive row) carries credentials: a file or store
    // that holds the list must then be private.
    Q_INVOKABLE bool hasCredentials(bool aliveOnly = false) const;
    // The alive proxies as plain-text lines, one each: of any level, or only
    // "anonymous" (anonymous or elite) or "elite" ones; altered ones only when asked.
    Q_INVOKABLE QString workingLines(const QString &level = QStringLiteral("any"), bool includeAltered = false) const;
    // The same proxies as CSV (RFC 4180), a header row first:
    // host,port,type,time in ms,exit address,level,country
    Q_INVOKABLE QString workingCsv(const QString &level = QStringLiteral("any"), bool includeAltered = false) const;

    // The list's JSON: compact for the settings store, indented by four spaces for a file.
    Q_INVOKABLE QString toJson(bool indented = false) const;
    // The stored list, appended to the rows. False when it cannot be read; the
    // rows read before the fault stay.
    Q_INVOKABLE bool appendStored(const QString &text);
    // Every row back to "unknown" without a response or time; the rows' proxies in order.
    QList<ProxyAddress> resetForRun();
    // One outcome of the run resetForRun began, by its index in that run: it
    // lands on the row that held that proxy, and on none when the row was
    // removed or now holds another proxy.
    Q_INVOKABLE void applyResult(int runIndex, const QString &status, const QString &response, int latency = -1);
    Q_INVOKABLE void applyLatency(int runIndex, int latency);
    // What the run's proxyProfile said of a live proxy (keys anonymity, country,
    // exitAddress, altered, type), by its index in that run; a row of type
    // "auto" takes the type found.
    Q_INVOKABLE void applyProfile(int runIndex, const QVariantMap &profile);
    // A run that was stopped: rows still "testing" become "unknown".
    Q_INVOKABLE void stopTesting();

    // One step of undo: keepUndo() before a change of the list keeps the rows
    // as they are (a copy only once the list changes); dropUndo() when the
    // change did not happen brings back the step kept before; undo() puts the
    // kept rows back, a row that was "testing" then as "unknown".
    Q_INVOKABLE void keepUndo();
    Q_INVOKABLE void dropUndo();
    Q_INVOKABLE bool undo();


signals:
    void countChanged();
    void countsChanged();
    void canUndoChanged();

private:
    enum Kind { Other, Testing, Alive, Dead, DnsFail, Timeout, KindCount };
    enum Level { NoLevel, Transparent, Anonymous, Elite, LevelCount };
    static Level levelOf(const QString &anonymity);
    // Clears the row's profile; true when it had one.
    bool clearProfile(Entry &entry);
    QList<const Entry *> working(const QString &level, bool includeAltered) const;
    static Kind kindOf(const QString &status);
    void setStatus(Entry &entry, const QString &status);
    void insertEntries(QList<Entry> entries);
    void forgetResult(int row);
    int rowOfRun(int index) const;

    QList<Entry> m_rows;
    QList<int> m_rowOfRun; // by index in the last run: the row that holds its proxy, or -1
    int m_counts[KindCount] {};
    int m_levels[LevelCount] {};
    QList<Entry> m_undoRows, m_olderUndoRows;
    bool m_canUndo { false }, m_olderCanUndo { false };
};
