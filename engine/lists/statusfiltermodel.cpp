#include "statusfiltermodel.h"

#include <limits>

StatusFilterModel::StatusFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    // The list's roles are fixed: the status role is looked up once per list.
    connect(this, &QAbstractProxyModel::sourceModelChanged, this, &StatusFilterModel::findStatusRole);
}

void StatusFilterModel::setStatus(const QString &status)
{
    if (m_status == status)
        return;
    m_status = status;
    invalidateRowsFilter();
    emit statusChanged();
}

void StatusFilterModel::findStatusRole()
{
    const int role = sourceModel() ? sourceModel()->roleNames().key(QByteArrayLiteral("status"), -1) : -1;
    if (role == m_statusRole)
        return;
    m_statusRole = role;
    // Also the filter role: a change of any other role leaves the rows as they are.
    if (role != -1)
        setFilterRole(role);
    invalidateRowsFilter();
}

void StatusFilterModel::setMinimumLevel(const QString &level)
{
    if (m_minimumLevel == level)
        return;
    m_minimumLevel = level;
    invalidateRowsFilter();
    emit minimumLevelChanged();
}

bool StatusFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    if (!m_minimumLevel.isEmpty()) {
        // The profile comes before the alive result, whose change of the status filters the row again.
        const QString level = index.data(m_levelRole).toString();
        if (level != u"elite" && (m_minimumLevel == u"elite" || level != u"anonymous"))
            return false;
    }
    if (m_status.isEmpty())
        return true;
    return m_statusRole != -1 && index.data(m_statusRole).toString() == m_status;
}

void StatusFilterModel::setByOutcome(bool byOutcome)
{
    if (m_byOutcome == byOutcome)
        return;
    m_byOutcome = byOutcome;
    sortAsAsked();
    emit byOutcomeChanged();
}

void StatusFilterModel::setSourceModel(QAbstractItemModel *model)
{
    // Known before the new list is first filtered.
    const QHash<int, QByteArray> roles = model ? model->roleNames() : QHash<int, QByteArray>();
    m_latencyRole = roles.key(QByteArrayLiteral("latency"), -1);
    m_levelRole = roles.key(QByteArrayLiteral("anonymity"), -1);
    QSortFilterProxyModel::setSourceModel(model);
    sortAsAsked();
}

// Column -1 is the list's own order.
void StatusFilterModel::sortAsAsked()
{
    const QHash<int, QByteArray> roles = sourceModel() ? sourceModel()->roleNames() : QHash<int, QByteArray>();
    const int status = roles.key(QByteArrayLiteral("status"), -1);
    // A change of the status moves the row; a change of any other role leaves it.
    if (status != -1)
        setSortRole(status);
    sort(m_byOutcome && status != -1 ? 0 : -1);
}

bool StatusFilterModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const int statusRole = sortRole();
    auto rank = [statusRole](const QModelIndex &index) {
        const QString status = index.data(statusRole).toString();
        return status == u"alive" ? 0 : status == u"timeout" ? 1 : status == u"dead" ? 2 : status == u"dns_fail" ? 3 : 4;
    };
    auto latency = [this](const QModelIndex &index) {
        const int ms = m_latencyRole == -1 ? -1 : index.data(m_latencyRole).toInt();
        return ms < 0 ? std::numeric_limits<int>::max() : ms;
    };
    auto level = [this](const QModelIndex &index) { // elite first, then anonymous, transparent, not known
        const QString anonymity = m_levelRole == -1 ? QString() : index.data(m_levelRole).toString();
        return anonymity == u"elite" ? 0 : anonymity == u"anonymous" ? 1 : anonymity == u"transparent" ? 2 : 3;
    };
    const int a = rank(left), b = rank(right);
    if (a != b)
        return a < b;
    if (a == 0 && level(left) != level(right))
        return level(left) < level(right);
    // Equal times and every other rank keep the list's order.
    return a == 0 && latency(left) != latency(right) ? latency(left) < latency(right) : left.row() < right.row();
}
