#pragma once

// The names a station goes by on the broker: its callsign checked and turned into a topic level,
// a sounder's day-file name turned into one, the topics of its messages and the broker's address
// as typed. Pure functions of plain values.
//
//   PREFIX/v1/<station>/status          retained; the last will sets it offline
//   PREFIX/v1/<station>/scaled/<sounder> one message per scaled sweep
//   PREFIX/v1/<station>/heard           the sounders heard when listening

#include <QString>
#include <optional>

namespace network {

constexpr int kTopicVersion = 1;
constexpr int kLongestCallsign = 20;
constexpr int kMqttPort = 1883;
constexpr int kMqttsPort = 8883;
// Every message is delivered at least once (the broker keeps it until it is acknowledged).
constexpr int kQos = 1;
constexpr const char* kDefaultPrefix = "tavmirok";

// Why a callsign (letters, digits, '/' and '-', at most kLongestCallsign) is refused; "" if not.
QString CallsignRefusal(const QString& callsign);
// Why a topic prefix (levels of letters, digits, '-', '_' and '.', joined by '/') is refused.
QString PrefixRefusal(const QString& prefix);

// The station's topic level: the callsign with '/' written as '_' ("DL0ABC/P" -> "DL0ABC_P").
QString StationLevel(const QString& callsign);
// A sounder's topic level: its day-file name with every character other than an ASCII letter, a
// digit, '-' and '_' written as '_' ("300:78.5" -> "300_78_5").
QString SounderLevel(const QString& dayName);

QString StatusTopic(const QString& prefix, const QString& callsign);
QString ScaledTopic(const QString& prefix, const QString& callsign, const QString& dayName);
QString HeardTopic(const QString& prefix, const QString& callsign);
// What a collector subscribes to: every station's scaled sweeps.
QString ScaledFilter(const QString& prefix);

// A broker as typed: mqtt://HOST[:PORT] or mqtts://HOST[:PORT].
struct BrokerAddress {
    bool tls = false;
    QString host;
    int port = kMqttPort;
};
// The address, or none with *error saying what is wrong.
std::optional<BrokerAddress> ParseBrokerUrl(const QString& text, QString* error);

} // namespace network
