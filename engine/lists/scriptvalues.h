#pragma once

#include <QString>
#include <QStringView>

// The proxy list JSON was first read and written by the pages' script engine;
// these give the same numbers and strings without one, so that lists stored
// before read and write back character for character.

// A number as the script engine's String(number) writes it: the shortest
// digits that read back as the same number, in plain or exponent notation by
// the rules of ECMAScript's Number::toString.
QString scriptNumberText(double value);

// The script engine's Number(text) for a text that is not blank; NaN when it
// names no number.
double scriptNumber(QStringView text);

// Where the strings of a JSON text break its grammar (a raw control
// character, an unknown escape), which Qt's parser lets pass and a script's
// JSON.parse does not; -1 when they do not.
qsizetype strictJsonStringFault(QStringView text);
