#include "reference.h"

#include "countrydb.h"

namespace {
// An engine text about the proxy, said of the target reached without one.
QString directText(QString text)
{
    return text.replace(QLatin1String(" to proxy"), QString())
        .replace(QLatin1String(" by the proxy"), QString())
        .replace(QLatin1String(" from the proxy"), QString());
}
} // namespace

bool TargetReference::add(ProbeEngine::Outcome outcome, const QString &text, const ProbeEngine::Answer &answer)
{
    if (m_known)
        return false;
    if (m_status == 0)
        m_status = answer.status;
    m_known = true;
    if (outcome != ProbeEngine::Outcome::Alive) {
        m_message = QStringLiteral("The target does not answer directly: ") + directText(text);
        return true;
    }
    m_reachable = true;
    if ((m_echo = parseJudgeAnswer(answer.body.head()))) {
        m_own = ownAddresses(*m_echo);
        return true;
    }
    if (++m_pages == 1) {
        m_page = answer.body;
        m_known = m_reachable = false;
        return false;
    }
    m_compare = m_page.sameAs(answer.body);
    if (!m_compare)
        m_message = QStringLiteral("The target's page changes from fetch to fetch: altered answers are not looked for");
    return true;
}

TargetReference::Verdict TargetReference::read(ProbeEngine::Outcome outcome, const QString &text,
                                               const ProbeEngine::Answer &answer, const CountryDb &countries) const
{
    Verdict verdict { outcome, text, {} };
    // A 401 that the target does not give itself is the proxy's (tinyproxy's to wrong credentials); only
    // where the engine took it for the target's refusal, not where it held back the target's credentials.
    if (outcome == ProbeEngine::Outcome::Dead && answer.status == 401 && m_status != 0 && m_status != 401
        && text.startsWith(QLatin1String("Error transferring "))) {
        verdict.text = answer.credentials ? QStringLiteral("Proxy rejected the credentials")
                                          : QStringLiteral("Proxy requires authentication");
        return verdict;
    }
    if (outcome != ProbeEngine::Outcome::Alive)
        return verdict;
    verdict.profile.insert(QStringLiteral("type"), proxyTypeName(answer.type));
    if (m_echo) {
        const std::optional<JudgeEcho> echo = parseJudgeAnswer(answer.body.head());
        if (!echo || !carriesMarker(*echo, answer.marker)) {
            verdict = { ProbeEngine::Outcome::Dead, QStringLiteral("The answer did not come from the target"), {} };
            return verdict;
        }
        if (!echo->client.isNull()) {
            verdict.profile.insert(QStringLiteral("exitAddress"), echo->client.toString());
            if (const QString country = countries.country(echo->client); !country.isEmpty())
                verdict.profile.insert(QStringLiteral("country"), country);
        }
        verdict.profile.insert(QStringLiteral("anonymity"), QString::fromLatin1(anonymityName(anonymityOf(*echo, *m_echo, m_own))));
    } else if (m_compare) {
        verdict.profile.insert(QStringLiteral("altered"), !m_page.sameAs(answer.body));
    }
    return verdict;
}
