#include "scriptvalues.h"

#include <QLocale>
#include <QRegularExpression>

#include <cctype>
#include <cmath>
#include <string>

// A number as the script engine's String(number) writes it: the shortest
// digits that read back as the same number, in plain or exponent notation by
// the rules of ECMAScript's Number::toString.
QString scriptNumberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0)
        return QStringLiteral("0");
    if (std::abs(value) < 1e15 && value == std::trunc(value))
        return QString::number(qint64(value));
    const QString sign = value < 0 ? QStringLiteral("-") : QString();
    // "d.ddde±x": the digits and the power of ten of the first one.
    const QString scientific = QString::number(std::abs(value), 'e', QLocale::FloatingPointShortest);
    const qsizetype e = scientific.indexOf(QLatin1Char('e'));
    QString digits = scientific.left(e);
    digits.remove(QLatin1Char('.'));
    const int k = int(digits.size());
    const int n = scientific.mid(e + 1).toInt() + 1;
    if (k <= n && n <= 21)
        return sign + digits + QString(n - k, QLatin1Char('0'));
    if (0 < n && n <= 21)
        return sign + digits.left(n) + QLatin1Char('.') + digits.mid(n);
    if (-6 < n && n <= 0)
        return sign + QStringLiteral("0.") + QString(-n, QLatin1Char('0')) + digits;
    const QString exponent = (n - 1 < 0 ? QStringLiteral("e-") : QStringLiteral("e+")) + QString::number(std::abs(n - 1));
    return sign + digits.left(1) + (k > 1 ? QLatin1Char('.') + digits.mid(1) : QString()) + exponent;
}

namespace {
bool isScriptSpace(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x09 && u <= 0x0d) || u == 0x20 || u == 0xa0 || u == 0x1680 || (u >= 0x2000 && u <= 0x200a)
        || u == 0x2028 || u == 0x2029 || u == 0x202f || u == 0x205f || u == 0x3000 || u == 0xfeff;
}
} // namespace

// The script engine's Number(text) for a text that is not blank; NaN when it
// names no number.
double scriptNumber(QStringView text)
{
    while (!text.isEmpty() && isScriptSpace(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isScriptSpace(text.back()))
        text.chop(1);
    const double nan = std::nan("");
    if (text.size() > 2 && text[0] == QLatin1Char('0')) {
        const char16_t radixLetter = text[1].toLower().unicode();
        const int radix = radixLetter == u'x' ? 16 : radixLetter == u'o' ? 8 : radixLetter == u'b' ? 2 : 0;
        if (radix) {
            double value = 0;
            for (QChar c : text.mid(2)) {
                const int digit = c.isDigit() ? c.digitValue() : (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))
                        ? c.toLower().unicode() - u'a' + 10 : 99;
                if (c.unicode() > 0x7f || digit >= radix)
                    return nan;
                value = value * radix + digit;
            }
            return value;
        }
    }
    static const QRegularExpression decimal(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (decimal.match(text).hasMatch())
        return text.toString().toDouble();
    const QStringView unsignedText = text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')) ? text.mid(1) : text;
    if (unsignedText == QLatin1String("Infinity"))
        return text.startsWith(QLatin1Char('-')) ? -INFINITY : INFINITY;
    return nan;
}

// Where the strings of a JSON text break its grammar (a raw control
// character, an unknown escape), which Qt's parser lets pass and a script's
// JSON.parse does not; -1 when they do not.
qsizetype strictJsonStringFault(QStringView text)
{
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!inString) {
            inString = c == u'"';
        } else if (c == u'"') {
            inString = false;
        } else if (c < 0x20) {
            return i;
        } else if (c == u'\\') {
            const char16_t escape = i + 1 < text.size() ? text[++i].unicode() : 0;
            if (escape == u'u') {
                for (int k = 0; k < 4; ++k) {
                    if (++i >= text.size() || !isxdigit(text[i].unicode() < 0x80 ? int(text[i].unicode()) : 0))
                        return i;
                }
            } else if (!std::char_traits<char16_t>::find(u"\"\\/bfnrt", 8, escape) || escape == 0) {
                return i;
            }
        }
    }
    return -1;
}
