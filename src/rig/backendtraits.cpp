#include "rig/backendtraits.h"

namespace {

// The set command (FE FE to FD, 11 bytes) and the 6-byte answer at ten bits a byte on the bus,
// and the radio's turnaround.
constexpr int kSetFrameBytes = 11;
constexpr int kAnswerBytes = 6;
constexpr int kBitsPerByte = 10;
constexpr double kRadioTurnaround = 0.005; // s
// Through rigctld and Hamlib the set reaches the radio within a few ms, but the backend waits for
// the reply before it sends anything else.
constexpr double kReplyWait = 0.060; // s
// Hamlib's read before a set: the 7-byte request and the 12-byte report on the bus at 19200 bit/s,
// the radio's turnaround, and the daemon's own time to act on the line it was sent.
constexpr double kHamlibReadBack = 0.015; // s

} // namespace

BackendTraits TraitsOf(const RigChoice& choice, int baudRate) {
    BackendTraits traits;
    if (choice.backend == QLatin1String(rigconfig::kBackendCiv)) {
        traits.commandSpacing =
            baudRate > 0 ? double((kSetFrameBytes + kAnswerBytes) * kBitsPerByte) / baudRate +
                               kRadioTurnaround
                         : kReplyWait;
        traits.commandReach = 0;
        return traits;
    }
    traits.commandSpacing = kReplyWait;
    traits.commandReach = kHamlibReadBack;
    return traits;
}
