#pragma once

#include <QSortFilterProxyModel>
#include <QString>

// The rows of a list model whose "status" role equals `status`, in the list's
// own order, or by outcome while `byOutcome` is set; every row while `status`
// is empty. Only a view reads through it: results are still written to the
// list by the list's own row index, and the list keeps its order.
class StatusFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_PROPERTY(QString status READ status WRITE setStatus NOTIFY statusChanged)
    // Alive first (elite, anonymous, transparent, then those of no known level;
    // fastest first within each); then timeout, dead, dns_fail and the rest; ties in list order.
    Q_PROPERTY(bool byOutcome READ byOutcome WRITE setByOutcome NOTIFY byOutcomeChanged)
    // "" any row; "anonymous" rows whose "anonymity" is anonymous or elite; "elite" elite rows only.
    Q_PROPERTY(QString minimumLevel READ minimumLevel WRITE setMinimumLevel NOTIFY minimumLevelChanged)

public:
    explicit StatusFilterModel(QObject *parent = nullptr);

    QString status() const { return m_status; }
    void setStatus(const QString &status);
    bool byOutcome() const { return m_byOutcome; }
    void setByOutcome(bool byOutcome);
    QString minimumLevel() const { return m_minimumLevel; }
    void setMinimumLevel(const QString &level);
    void setSourceModel(QAbstractItemModel *model) override;

signals:
    void statusChanged();
    void byOutcomeChanged();
    void minimumLevelChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    void findStatusRole();

    QString m_status;
    int m_statusRole { -1 };
    void sortAsAsked();
    bool m_byOutcome { false };
    int m_latencyRole { -1 };
    int m_levelRole { -1 };
    QString m_minimumLevel;
};
