#include "rig/rigctlprotocol.h"

#include <QRegularExpression>

namespace rigctl {

QByteArray SetFrequencyCommand(std::int32_t hz) {
    return "F " + QByteArray::number(hz) + '\n';
}

QByteArray ReadFrequencyCommand() {
    return QByteArrayLiteral("f\n");
}

Reply ParseReply(QByteArrayView line) {
    static const QRegularExpression report(QStringLiteral("^RPRT (-?\\d{1,6})$"));
    static const QRegularExpression value(QStringLiteral("^\\d{1,12}(\\.\\d{0,9})?$"));
    QByteArrayView text = line;
    if (text.endsWith('\r')) {
        text.chop(1);
    }
    const QString decoded = QString::fromLatin1(text.data(), text.size()).trimmed();
    Reply reply;
    if (const QRegularExpressionMatch match = report.match(decoded); match.hasMatch()) {
        reply.kind = Reply::Kind::Report;
        reply.code = match.captured(1).toInt();
    } else if (value.match(decoded).hasMatch()) {
        reply.kind = Reply::Kind::Value;
        reply.value = decoded.toDouble();
    }
    return reply;
}

QString ReportMeaning(int code) {
    switch (code) {
    case kRprtOk:
        return QStringLiteral("done");
    case kRprtInvalid:
        return QStringLiteral("invalid parameter");
    case kRprtTimeout:
        return QStringLiteral("the radio did not answer rigctld");
    case kRprtRejected:
        return QStringLiteral("the radio refused it");
    case kRprtNotAvailable:
        return QStringLiteral("not available");
    default:
        return code > 0 ? QStringLiteral("the server could not do it")
                        : QStringLiteral("Hamlib error %1").arg(-code);
    }
}

} // namespace rigctl
