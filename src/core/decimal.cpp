#include "core/decimal.h"

#include <QRegularExpression>
#include <cmath>

std::optional<double> ParseDecimal(const QString& text, const QLocale& locale) {
    // Only plain decimals: no exponent, no group separators, no "inf" or "nan".
    const QString separator = QRegularExpression::escape(locale.decimalPoint());
    const QRegularExpression plainDecimal(
        QStringLiteral("^[+-]?([0-9]+((\\.|%1)[0-9]*)?|(\\.|%1)[0-9]+)$").arg(separator));
    const QString trimmed = text.trimmed();
    if (!plainDecimal.match(trimmed).hasMatch()) {
        return std::nullopt;
    }
    QString normalized = trimmed;
    normalized.replace(locale.decimalPoint(), QStringLiteral("."));
    if (normalized.endsWith(u'.')) {
        normalized.append(u'0');
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(normalized, &ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value + 0.0; // "-0" reads as 0
}

QString FormatDecimal(double value) {
    constexpr int kDecimals = 6;
    QString text = QString::number(value, 'f', kDecimals);
    while (text.endsWith(u'0')) {
        text.chop(1);
    }
    if (text.endsWith(u'.')) {
        text.chop(1);
    }
    return text == QStringLiteral("-0") ? QStringLiteral("0") : text;
}
