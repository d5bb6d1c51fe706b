#pragma once

#include <QString>

// The output frame's check digit over the first 24 characters of the text. Doubling
// starts at the leftmost character; a doubled value above 15 loses 15; the result is
// (16 - sum mod 16) mod 16 as one upper-case hex digit. Throws TypeMismatchError for a
// character among the first 24 that is not a hex digit.
QString CalculateHexCheckDigit(const QString &TransponderData);
