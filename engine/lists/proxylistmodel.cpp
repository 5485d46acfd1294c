#include "proxylistmodel.h"

#include "listfile.h"
#include "listjson.h"
#include "proxylines.h"

#include <QJsonValue>

#include <algorithm>
#include <numeric>
#include <unordered_set>
#include <utility>

namespace {

struct SameProxy
{
    size_t operator()(const ProxyAddress &entry) const { return sameProxyHash(entry); }
    bool operator()(const ProxyAddress &a, const ProxyAddress &b) const { return sameProxy(a, b); }
};

const QString unknownStatus = QStringLiteral("unknown");
const QString testingStatus = QStringLiteral("testing");
const QString aliveStatus = QStringLiteral("alive");
const QString deadStatus = QStringLiteral("dead");
const QString timeoutStatus = QStringLiteral("timeout");
const QString dnsFailStatus = QStringLiteral("dns_fail");

// A known status as the one shared string of its kind, so that a hundred
// thousand rows do not each hold a copy.
QString shared(const QString &status)
{
    for (const QString *known : { &unknownStatus, &testingStatus, &aliveStatus, &deadStatus, &timeoutStatus, &dnsFailStatus }) {
        if (status == *known)
            return *known;
    }
    return status;
}

} // namespace

ProxyListModel::ProxyListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int ProxyListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant ProxyListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return QVariant();
    const Entry &entry = m_rows.at(index.row());
    switch (role) {
    case HostRole: return entry.proxy.host;
    case PortRole: return ListJson::portVariant(entry.port);
    case StatusRole: return entry.status;
    case ResponseRole: return entry.response;
    case TypeRole: return proxyTypeName(entry.proxy.type);
    case UserRole: return entry.proxy.user;
    case PasswordRole: return entry.proxy.password;
    case LatencyRole: return entry.latency;
    case AnonymityRole: return entry.anonymity;
    case CountryRole: return entry.country;
    case ExitAddressRole: return entry.exitAddress;
    case AlteredRole: return entry.altered;
    default: return QVariant();
    }
}

QHash<int, QByteArray> ProxyListModel::roleNames() const
{
    return { { HostRole, "host" }, { PortRole, "port" }, { StatusRole, "status" }, { ResponseRole, "response" },
             { TypeRole, "type" }, { UserRole, "user" }, { PasswordRole, "password" }, { LatencyRole, "latency" },
             { AnonymityRole, "anonymity" }, { CountryRole, "country" }, { ExitAddressRole, "exitAddress" }, { AlteredRole, "altered" } };
}

ProxyListModel::Kind ProxyListModel::kindOf(const QString &status)
{
    if (status == aliveStatus)
        return Alive;
    if (status == deadStatus)
        return Dead;
    if (status == timeoutStatus)
        return Timeout;
    if (status == dnsFailStatus)
        return DnsFail;
    if (status == testingStatus)
        return Testing;
    return Other;
}

void ProxyListModel::setStatus(Entry &entry, const QString &status)
{
    --m_counts[kindOf(entry.status)];
    entry.status = shared(status);
    ++m_counts[kindOf(entry.status)];
}

// A row as the pages hand it over, its status one of the shared strings.
static ListEntry rowFromMap(const QVariantMap &map)
{
    ListEntry entry = ListJson::entryFromMap(map);
    entry.status = shared(entry.status);
    return entry;
}

void ProxyListModel::insertEntries(QList<Entry> entries)
{
    if (entries.isEmpty())
        return;
    beginInsertRows(QModelIndex(), count(), count() + int(entries.size()) - 1);
    for (const Entry &entry : std::as_const(entries))
        ++m_counts[kindOf(entry.status)], ++m_levels[levelOf(entry.anonymity)];
    m_rows.append(std::move(entries));
    endInsertRows();
    emit countChanged();
    emit countsChanged();
}

void ProxyListModel::append(const QVariantMap &entry)
{
    insertEntries({ rowFromMap(entry) });
}

QVariantMap ProxyListModel::get(int row) const
{
    QVariantMap map;
    if (row < 0 || row >= count())
        return map;
    const QHash<int, QByteArray> roles = roleNames();
    for (auto role = roles.cbegin(); role != roles.cend(); ++role)
        map.insert(QString::fromLatin1(role.value()), data(index(row), role.key()));
    return map;
}

void ProxyListModel::setProperty(int row, const QString &role, const QVariant &value)
{
    if (row < 0 || row >= count())
        return;
    Entry &entry = m_rows[row];
    const QJsonValue json = QJsonValue::fromVariant(value);
    int changed = roleNames().key(role.toLatin1(), -1);
    const ProxyAddress before = entry.proxy;
    const double portBefore = entry.port;
    switch (changed) {
    case HostRole: entry.proxy.host = ListJson::hostFrom(json); break;
    case PortRole: entry.port = ListJson::portFrom(json); entry.proxy.port = ListJson::portNumber(entry.port); break;
    case TypeRole: entry.proxy.type = proxyTypeFromName(value.toString()).value_or(ProxyType::Http); break;
    case UserRole: entry.proxy.user = value.toString(); break;
    case PasswordRole: entry.proxy.password = value.toString(); break;
    case ResponseRole: entry.response = value.toString(); break;
    case LatencyRole: entry.latency = value.isValid() ? value.toInt() : -1; break;
    case StatusRole:
        setStatus(entry, value.toString());
        emit dataChanged(index(row), index(row), { changed });
        emit countsChanged();
        return;
    default:
        return;
    }
    emit dataChanged(index(row), index(row), { changed });
    // What the row showed was about the proxy it held: another proxy is untested.
    if (!sameProxy(before, entry.proxy) || before.password != entry.proxy.password || portBefore != entry.port)
        forgetResult(row);
}

void ProxyListModel::forgetResult(int row)
{
    Entry &entry = m_rows[row];
    if (entry.runIndex >= 0)
        m_rowOfRun[entry.runIndex] = -1;
    entry.runIndex = -1;
    const bool hadProfile = clearProfile(entry);
    if (entry.status == unknownStatus && entry.response.isEmpty() && entry.latency < 0 && !hadProfile)
        return;
    setStatus(entry, unknownStatus);
    entry.response.clear();
    entry.latency = -1;
    emit dataChanged(index(row), index(row), { StatusRole, ResponseRole, LatencyRole, AnonymityRole, CountryRole, ExitAddressRole, AlteredRole });
    emit countsChanged();
}

int ProxyListModel::rowOfRun(int index) const
{
    return index >= 0 && index < m_rowOfRun.size() ? m_rowOfRun.at(index) : -1;
}

void ProxyListModel::remove(int row, int count)
{
    if (row < 0 || count <= 0 || row + count > this->count())
        return;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    for (int i = row; i < row + count; ++i) {
        --m_counts[kindOf(m_rows.at(i).status)];
        --m_levels[levelOf(m_rows.at(i).anonymity)];
        if (m_rows.at(i).runIndex >= 0)
            m_rowOfRun[m_rows.at(i).runIndex] = -1; // its result, when it comes, has no row
    }
    for (int i = row + count; i < this->count(); ++i) {
        if (m_rows.at(i).runIndex >= 0)
            m_rowOfRun[m_rows.at(i).runIndex] -= count;
    }
    m_rows.remove(row, count);
    endRemoveRows();
    emit countChanged();
    emit countsChanged();
}

void ProxyListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_rowOfRun.fill(-1);
    std::fill(std::begin(m_counts), std::end(m_counts), 0);
    std::fill(std::begin(m_levels), std::end(m_levels), 0);
    endResetModel();
    emit countChanged();
    emit countsChanged();
}

bool ProxyListModel::hasCredentials(bool aliveOnly) const
{
    return std::any_of(m_rows.cbegin(), m_rows.cend(), [aliveOnly](const Entry &entry) {
        return (!aliveOnly || entry.status == aliveStatus) && !(entry.proxy.user.isEmpty() && entry.proxy.password.isEmpty());
    });
}

QString ProxyListModel::toJson(bool indented) const
{
    return ListJson::write(m_rows, indented);
}

QVariantMap ProxyListModel::importText(const QString &text, bool append, const QString &untyped)
{
    ListFile::Read read = ListFile::readList(text, proxyTypeFromName(untyped).value_or(ProxyType::Http));
    QList<Entry> entries = std::move(read.entries);
    QVariantList lines;
    for (const qsizetype line : std::as_const(read.firstSkipped))
        lines.append(line);
    QVariantMap result { { QStringLiteral("skipped"), read.skipped }, { QStringLiteral("skippedLines"), lines },
                         { QStringLiteral("json"), read.json }, { QStringLiteral("error"), read.error } };
    const QString &error = read.error;
    if (append) {
        const qsizetype before = entries.size();
        std::unordered_set<ProxyAddress, SameProxy, SameProxy> known(m_rows.size() + entries.size());
        for (const Entry &entry : std::as_const(m_rows))
            known.insert(entry.proxy);
        entries.removeIf([&known](const Entry &entry) { return !known.insert(entry.proxy).second; });
        read.duplicates += before - entries.size();
    }
    result[QStringLiteral("duplicates")] = read.duplicates;
    result[QStringLiteral("imported")] = entries.size();
    // A JSON list that reads replaces the rows even when it is empty.
    const bool changed = !entries.isEmpty() || (error.isEmpty() && !append);
    result[QStringLiteral("changed")] = changed;
    if (changed) {
        if (!append)
            clear();
        insertEntries(std::move(entries));
    }
    return result;
}

bool ProxyListModel::appendStored(const QString &text)
{
    ListJson::ReadResult result = ListJson::read(text, ListJson::Reading::Stored);
    insertEntries(std::move(result.entries));
    return result.error.isEmpty();
}

QList<ProxyAddress> ProxyListModel::resetForRun()
{
    QList<ProxyAddress> proxies;
    proxies.reserve(m_rows.size());
    m_rowOfRun.resize(m_rows.size());
    std::iota(m_rowOfRun.begin(), m_rowOfRun.end(), 0);
    for (Entry &entry : m_rows) {
        entry.runIndex = int(proxies.size());
        entry.status = unknownStatus;
        entry.response.clear();
        entry.latency = -1;
        clearProfile(entry);
        proxies.append(entry.proxy);
    }
    std::fill(std::begin(m_counts), std::end(m_counts), 0);
    m_counts[Other] = count();
    std::fill(std::begin(m_levels), std::end(m_levels), 0);
    m_levels[NoLevel] = count();
    if (!m_rows.isEmpty())
        emit dataChanged(index(0), index(count() - 1),
                         { StatusRole, ResponseRole, LatencyRole, AnonymityRole, CountryRole, ExitAddressRole, AlteredRole });
    emit countsChanged();
    return proxies;
}

void ProxyListModel::applyLatency(int index, int latency)
{
    if (const int row = rowOfRun(index); row >= 0) {
        m_rows[row].latency = latency;
        emit dataChanged(this->index(row), this->index(row), { LatencyRole });
    }
}

void ProxyListModel::applyResult(int runIndex, const QString &status, const QString &response, int latency)
{
    const int index = rowOfRun(runIndex);
    if (index < 0)
        return;
    Entry &entry = m_rows[index];
    setStatus(entry, status);
    entry.response = response;
    // An alive row keeps the time that proxyLatency wrote just before it.
    if (latency >= 0 || status != aliveStatus)
        entry.latency = latency;
    emit dataChanged(this->index(index), this->index(index), { StatusRole, ResponseRole, LatencyRole });
    emit countsChanged();
}

void ProxyListModel::stopTesting()
{
    int first = -1, last = -1;
    for (int i = 0; i < count(); ++i) {
        if (m_rows.at(i).status == testingStatus) {
            m_rows[i].status = unknownStatus;
            first = first < 0 ? i : first;
            last = i;
        }
    }
    if (first < 0)
        return;
    m_counts[Other] += m_counts[Testing];
    m_counts[Testing] = 0;
    emit dataChanged(index(first), index(last), { StatusRole });
    emit countsChanged();
}

void ProxyListModel::keepUndo()
{
    m_olderUndoRows = std::exchange(m_undoRows, m_rows);
    m_olderCanUndo = std::exchange(m_canUndo, true);
    if (!m_olderCanUndo)
        emit canUndoChanged();
}

void ProxyListModel::dropUndo()
{
    m_undoRows = std::exchange(m_olderUndoRows, {});
    m_canUndo = std::exchange(m_olderCanUndo, false);
    if (!m_canUndo)
        emit canUndoChanged();
}

bool ProxyListModel::undo()
{
    if (!m_canUndo)
        return false;
    // Rows made afresh from what was kept: nothing of a run that went on since comes back.
    QList<Entry> rows;
    rows.reserve(m_undoRows.size());
    for (const Entry &kept : std::as_const(m_undoRows)) {
        Entry entry;
        entry.proxy = kept.proxy;
        entry.port = kept.port;
        entry.status = kept.status == testingStatus ? unknownStatus : kept.status;
        entry.response = kept.response;
        entry.latency = kept.latency;
        rows.append(std::move(entry));
    }
    m_undoRows.clear();
    m_olderUndoRows.clear();
    m_canUndo = m_olderCanUndo = false;
    emit canUndoChanged();
    clear();
    insertEntries(std::move(rows));
    return true;
}
