#pragma once

#include "anonymity.h"
#include "judge.h"
#include "probeengine.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>

class CountryDb;

// What the target answers directly, without a proxy, at the start of a run:
// the reference that the answers through the proxies are read against. Two
// direct fetches, each with a marker of its own: a judge answer makes the
// target a judge; else two equal bodies are the page every proxy should pass
// on unchanged, and two different ones a page that changes by itself.
class TargetReference
{
public:
    static constexpr int fetches = 2;

    void reset() { *this = TargetReference(); }
    // One direct fetch ended; true when the reference has become known with it.
    bool add(ProbeEngine::Outcome outcome, const QString &text, const ProbeEngine::Answer &answer);
    bool known() const { return m_known; }
    bool reachable() const { return m_reachable; }
    // For targetChecked: why the target is not reachable, or a note, or empty.
    const QString &message() const { return m_message; }

    // An outcome through a proxy that the reference may change: it waits for it.
    static bool dependsOnIt(ProbeEngine::Outcome outcome, const ProbeEngine::Answer &answer)
    {
        return outcome == ProbeEngine::Outcome::Alive || answer.status == 401;
    }

    struct Verdict
    {
        ProbeEngine::Outcome outcome;
        QString text;
        QVariantMap profile; // for a live proxy: type, exitAddress, anonymity, country, altered
    };
    // The outcome through a proxy, read against the reference as far as it is known.
    Verdict read(ProbeEngine::Outcome outcome, const QString &text, const ProbeEngine::Answer &answer,
                 const CountryDb &countries) const;

private:
    bool m_known { false };
    bool m_reachable { false };
    QString m_message;
    int m_status { 0 }; // the status the target answered directly; 0: none
    int m_pages { 0 }; // direct answers that were no judge answer
    std::optional<JudgeEcho> m_echo; // the target is a judge
    QList<QHostAddress> m_own;
    BodyCopy m_page; // the first direct answer that was no judge answer
    bool m_compare { false }; // both were the same: m_page is what a proxy must pass on
};
