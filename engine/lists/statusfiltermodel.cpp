#include "statusfiltermodel.h"

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

bool StatusFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_status.isEmpty())
        return true;
    return m_statusRole != -1
        && sourceModel()->index(sourceRow, 0, sourceParent).data(m_statusRole).toString() == m_status;
}
