#pragma once

#include <QSortFilterProxyModel>
#include <QString>

// The rows of a list model whose "status" role equals `status`, in the list's
// own order; every row while `status` is empty. Only a view reads through it:
// results are still written to the list by the list's own row index.
class StatusFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_PROPERTY(QString status READ status WRITE setStatus NOTIFY statusChanged)

public:
    explicit StatusFilterModel(QObject *parent = nullptr);

    QString status() const { return m_status; }
    void setStatus(const QString &status);

signals:
    void statusChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    void findStatusRole();

    QString m_status;
    int m_statusRole { -1 };
};
