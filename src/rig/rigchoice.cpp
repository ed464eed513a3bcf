#include "rig/rigchoice.h"

#include <QRegularExpression>

namespace rigconfig {

namespace {

constexpr int kHighestPort = 65535;

QString AddressAdvice() {
    return QStringLiteral("Type the host and port of rigctld or of the SDR program's remote "
                          "control as host:port, such as localhost:4532 (rigctld) or "
                          "localhost:7356 (many SDR programs).");
}

} // namespace

RigChoice DefaultRigChoice() {
    return RigChoice{QString::fromLatin1(kBackendCiv), QString::fromLatin1(kDefaultAddress), 0};
}

RigChoice RigChoiceFromStored(const QString& backend, const QString& address,
                              const QString& model) {
    RigChoice choice = DefaultRigChoice();
    if (!backend.trimmed().isEmpty()) {
        choice.backend = backend.trimmed().toLower();
    }
    if (!address.trimmed().isEmpty()) {
        choice.address = address.trimmed();
    }
    bool ok = false;
    const int number = model.trimmed().toInt(&ok);
    choice.model = ok ? number : 0;
    return choice;
}

Status ParseHostPort(const QString& text, HostPort* hostPort) {
    // A bracketed IPv6 address, or a host name or IPv4 address without colons or blanks.
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^\\s:\\[\\]]+)):(\\d{1,5})$"));
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return Status::Error(QStringLiteral("No address typed. ") + AddressAdvice(),
                             QStringLiteral("no address"));
    }
    const QRegularExpressionMatch match = form.match(trimmed);
    if (!match.hasMatch()) {
        return Status::Error(QStringLiteral("\"%1\" is not a host and port. ").arg(trimmed) +
                                 AddressAdvice(),
                             QStringLiteral("not host:port"));
    }
    const int port = match.captured(3).toInt();
    if (port < 1 || port > kHighestPort) {
        return Status::Error(
            QStringLiteral("%1 in \"%2\" is not a port: a port is a number from 1 to 65535. ")
                    .arg(match.captured(3), trimmed) +
                AddressAdvice(),
            QStringLiteral("no such port"));
    }
    hostPort->host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    hostPort->port = static_cast<quint16>(port);
    return Status::Ok();
}

Status ValidateRigChoice(const RigChoice& choice) {
    if (choice.backend == QLatin1String(kBackendCiv)) {
        return Status::Ok();
    }
    if (choice.backend == QLatin1String(kBackendNetwork)) {
        HostPort unused;
        return ParseHostPort(choice.address, &unused);
    }
    if (choice.backend == QLatin1String(kBackendHamlib)) {
        if (choice.model <= 0) {
            return Status::Error(QStringLiteral("No Hamlib model chosen. Pick your radio in the "
                                                "list; typing part of its name finds it."),
                                 QStringLiteral("no model"));
        }
        return Status::Ok();
    }
    return Status::Error(QStringLiteral("\"%1\" is not a way to reach the radio: use \"civ\" (the "
                                        "built-in CI-V link), \"network\" (rigctld) or \"hamlib\".")
                             .arg(choice.backend),
                         QStringLiteral("unknown backend"));
}

} // namespace rigconfig
