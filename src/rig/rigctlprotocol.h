#pragma once

// rigctld's text protocol in its plain form, as rigctld and SDR programs' remote control speak
// it: "F <hz>" answered "RPRT <code>", "f" answered by the frequency on a line of its own.
// Pure functions: the commands, and what one reply line means.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

namespace rigctl {

// A reply line longer than this is not a rigctld reply.
constexpr qsizetype kMaxLineLength = 256;

// Hamlib's error codes as rigctld sends them (negated) in "RPRT -n".
constexpr int kRprtOk = 0;
constexpr int kRprtInvalid = -1;       // RIG_EINVAL
constexpr int kRprtTimeout = -5;       // RIG_ETIMEOUT: the radio did not answer rigctld
constexpr int kRprtRejected = -9;      // RIG_ERJCTED: the radio refused the command
constexpr int kRprtNotAvailable = -11; // RIG_ENAVAIL

QByteArray SetFrequencyCommand(std::int32_t hz); // "F 14250000\n"
QByteArray ReadFrequencyCommand();               // "f\n"

struct Reply {
    enum class Kind { Report, Value, Garbled };
    Kind kind = Kind::Garbled;
    int code = 0;     // of a Report
    double value = 0; // of a Value: a non-negative number
};

// One line without its line end (a trailing CR is ignored): "RPRT -9" is a Report, "14250000"
// or "14250000.000000" a Value, anything else Garbled.
Reply ParseReply(QByteArrayView line);

// What a report code means, in a few words ("the radio refused it").
QString ReportMeaning(int code);

} // namespace rigctl
