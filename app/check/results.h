#pragma once

#include "options.h"
#include "proxyaddress.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <cstdio>
#include <vector>

// The outcome of every proxy of a run, and the output made of them.
class Results
{
public:
    // In the order the window's Sort puts them, after the working ones.
    enum class Outcome : quint8 { Alive, Timeout, Dead, DnsFail, Pending };

    explicit Results(QList<ProxyAddress> proxies);

    // What TestRun reports: its result and latency signals.
    void record(int index, const QString &status, const QString &error);
    void setLatency(int index, int milliseconds);
    void setProfile(int index, const QVariantMap &profile);

    const QList<ProxyAddress> &proxies() const { return m_proxies; }
    qsizetype size() const { return m_proxies.size(); }
    qsizetype count(Outcome outcome) const { return m_counts[int(outcome)]; }
    qsizetype finished() const { return size() - count(Outcome::Pending); }

    // The finished proxies (the working ones only unless options.all), in the
    // format and order asked for; a proxy without an outcome is left out.
    void write(std::FILE *out, const CheckOptions &options) const;

private:
    QByteArray textLine(qsizetype i, bool all) const;
    QByteArray jsonObject(qsizetype i) const;
    QByteArray csvRow(qsizetype i) const;

    QList<ProxyAddress> m_proxies;
    std::vector<Outcome> m_outcomes;
    std::vector<int> m_milliseconds; // -1: none
    std::vector<QString> m_errors;
    std::vector<QVariantMap> m_profiles; // TestRun's profile of each working proxy
    qsizetype m_counts[5] {};
};

const char *outcomeName(Results::Outcome outcome);
