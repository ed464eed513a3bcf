#include "support/ui/formwithradio.h"

QString SetFrame(int hz) {
    const QString digits = QStringLiteral("%1").arg(hz, 10, 10, QLatin1Char('0'));
    QStringList bytes{"FE", "FE", "4E", "4D", "05"};
    for (int pair = 4; pair >= 0; --pair) {
        bytes << digits.mid(pair * 2, 2);
    }
    bytes << "FD";
    return bytes.join(QLatin1Char(' '));
}
