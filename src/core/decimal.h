#pragma once

// Decimal numbers as the user types them and as the stores keep them: read in the user's locale
// or with ".", written so that any locale reads them back.

#include <QLocale>
#include <QString>
#include <optional>

// Reads a plain decimal number: the locale's decimal separator or ".", no exponent, no grouping,
// blanks around it trimmed; "-0" reads as 0. Nothing that is not finite.
std::optional<double> ParseDecimal(const QString& text, const QLocale& locale);

// Writes a number so that ParseDecimal reads it back in any locale: "." and at most six
// decimals, no trailing zeros, no exponent (2.1, 300, 0.000001).
QString FormatDecimal(double value);
