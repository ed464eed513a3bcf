#include "network/topics.h"

#include <QUrl>

namespace network {

namespace {

bool AsciiAlnum(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

QString Base(const QString& prefix, const QString& callsign) {
    return QStringLiteral("%1/v%2/%3").arg(prefix).arg(kTopicVersion).arg(StationLevel(callsign));
}

} // namespace

QString CallsignRefusal(const QString& callsign) {
    if (callsign.isEmpty()) {
        return QStringLiteral("No callsign is set: give the station's callsign (or a short "
                              "station name) with --callsign; nothing is published without it.");
    }
    if (callsign.size() > kLongestCallsign) {
        return QStringLiteral("\"%1\" is longer than %2 characters.")
            .arg(callsign)
            .arg(kLongestCallsign);
    }
    for (const QChar c : callsign) {
        if (!AsciiAlnum(c) && c != u'/' && c != u'-') {
            return QStringLiteral("\"%1\" may hold only letters, digits, / and -.").arg(callsign);
        }
    }
    return {};
}

QString PrefixRefusal(const QString& prefix) {
    const QStringList levels = prefix.split(u'/');
    for (const QString& level : levels) {
        bool ok = !level.isEmpty();
        for (const QChar c : level) {
            ok = ok && (AsciiAlnum(c) || c == u'-' || c == u'_' || c == u'.');
        }
        if (!ok) {
            return QStringLiteral("\"%1\" is not a topic prefix: levels of letters, digits, -, _ "
                                  "and . joined by /, such as tavmirok.")
                .arg(prefix);
        }
    }
    return {};
}

QString StationLevel(const QString& callsign) {
    QString level = callsign;
    return level.replace(u'/', u'_');
}

QString SounderLevel(const QString& dayName) {
    QString level = dayName;
    for (QChar& c : level) {
        if (!AsciiAlnum(c) && c != u'-' && c != u'_') {
            c = u'_';
        }
    }
    return level.isEmpty() ? QStringLiteral("_") : level;
}

QString StatusTopic(const QString& prefix, const QString& callsign) {
    return Base(prefix, callsign) + QStringLiteral("/status");
}

QString ScaledTopic(const QString& prefix, const QString& callsign, const QString& dayName) {
    return Base(prefix, callsign) + QStringLiteral("/scaled/") + SounderLevel(dayName);
}

QString HeardTopic(const QString& prefix, const QString& callsign) {
    return Base(prefix, callsign) + QStringLiteral("/heard");
}

QString ScaledFilter(const QString& prefix) {
    return QStringLiteral("%1/v%2/+/scaled/#").arg(prefix).arg(kTopicVersion);
}

std::optional<BrokerAddress> ParseBrokerUrl(const QString& text, QString* error) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    BrokerAddress address;
    const QString scheme = url.scheme().toLower();
    address.tls = scheme == QLatin1String("mqtts");
    const bool pathless = url.path().isEmpty() || url.path() == QLatin1String("/");
    if (!url.isValid() || (!address.tls && scheme != QLatin1String("mqtt")) ||
        url.host().isEmpty() || !pathless || !url.userInfo().isEmpty() || url.hasQuery()) {
        *error = QStringLiteral("\"%1\" is not a broker's address: write mqtt://HOST[:PORT] or "
                                "mqtts://HOST[:PORT] (the user and password have options of "
                                "their own).")
                     .arg(text);
        return std::nullopt;
    }
    address.host = url.host();
    address.port = url.port(address.tls ? kMqttsPort : kMqttPort);
    return address;
}

} // namespace network
