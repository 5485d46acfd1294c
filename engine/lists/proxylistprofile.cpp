#include "proxylistmodel.h"

#include "proxylines.h"

// What a run's answers showed of each proxy (its profile), and the working
// proxies written out by level: as lines, or as CSV.

namespace {
const QString alive = QStringLiteral("alive");
const QString levelNames[] = { QString(), QStringLiteral("transparent"), QStringLiteral("anonymous"), QStringLiteral("elite") };

// RFC 4180: a field with a comma, a quote or a line break in quotes, its quotes doubled.
QString csvField(QString text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    return u'"' + text.replace(u'"', QLatin1String("\"\"")) + u'"';
}
} // namespace

ProxyListModel::Level ProxyListModel::levelOf(const QString &anonymity)
{
    for (int level = Transparent; level < LevelCount; ++level)
        if (anonymity == levelNames[level])
            return Level(level);
    return NoLevel;
}

bool ProxyListModel::clearProfile(Entry &entry)
{
    if (entry.anonymity.isEmpty() && entry.country.isEmpty() && entry.exitAddress.isEmpty() && !entry.altered)
        return false;
    --m_levels[levelOf(entry.anonymity)];
    ++m_levels[NoLevel];
    entry.anonymity.clear();
    entry.country.clear();
    entry.exitAddress.clear();
    entry.altered = false;
    return true;
}

void ProxyListModel::applyProfile(int runIndex, const QVariantMap &profile)
{
    const int row = rowOfRun(runIndex);
    if (row < 0)
        return;
    Entry &entry = m_rows[row];
    clearProfile(entry);
    const Level level = levelOf(profile.value(QStringLiteral("anonymity")).toString());
    entry.anonymity = levelNames[level]; // one shared string per level
    --m_levels[NoLevel];
    ++m_levels[level];
    entry.country = profile.value(QStringLiteral("country")).toString();
    entry.exitAddress = profile.value(QStringLiteral("exitAddress")).toString();
    entry.altered = profile.value(QStringLiteral("altered")).toBool();
    QList<int> roles { AnonymityRole, CountryRole, ExitAddressRole, AlteredRole };
    if (entry.proxy.type == ProxyType::Auto) {
        const auto found = proxyTypeFromName(profile.value(QStringLiteral("type")).toString());
        if (found && *found != ProxyType::Auto) {
            entry.proxy.type = *found;
            roles << TypeRole;
        }
    }
    emit dataChanged(index(row), index(row), roles);
    emit countsChanged();
}

QList<const ProxyListModel::Entry *> ProxyListModel::working(const QString &level, bool includeAltered) const
{
    const Level lowest = level == QLatin1String("elite") ? Elite : level == QLatin1String("anonymous") ? Anonymous : NoLevel;
    QList<const Entry *> rows;
    for (const Entry &entry : m_rows) {
        if (entry.status == alive && levelOf(entry.anonymity) >= lowest && (includeAltered || !entry.altered))
            rows.append(&entry);
    }
    return rows;
}

QString ProxyListModel::workingLines(const QString &level, bool includeAltered) const
{
    QList<ProxyAddress> proxies;
    for (const Entry *entry : working(level, includeAltered))
        proxies.append(entry->proxy);
    return formatProxyLines(proxies);
}

QString ProxyListModel::workingCsv(const QString &level, bool includeAltered) const
{
    QString csv = QStringLiteral("host,port,type,time in ms,exit address,level,country\r\n");
    for (const Entry *entry : working(level, includeAltered)) {
        const QStringList fields { csvField(entry->proxy.host), QString::number(entry->proxy.port), proxyTypeName(entry->proxy.type),
                                   entry->latency < 0 ? QString() : QString::number(entry->latency), csvField(entry->exitAddress),
                                   entry->anonymity, csvField(entry->country) };
        csv += fields.join(u',') + QLatin1String("\r\n");
    }
    return csv;
}
