#pragma once

// Sorts the crossings heard on one frequency into sounders. A crossing shows in several rates'
// filters, weaker in the other direction's too; detections within one passage of each other
// (from 0 Hz to the top of the passband at the slower rate) are one crossing, at the rate and
// direction heard best. Crossings of one sounder lie whole
// periods apart, and periods divide the day: a sounder's period is the largest divisor of 86400 s
// from 60 to 3600 s that divides every interval between its crossings, and it is confirmed once
// heard three times with two intervals of exactly one period. Its chirp time is (t_pass - f/R)
// modulo the period, periods counted from UTC midnight.

#include "ionogram/chirpdetector.h"

#include <utility>
#include <vector>

namespace ionogram {

struct HeardSounder {
    double rateKhzPerS = 0;
    double periodS = 0;    // 0 while a single crossing leaves it open
    double chirpTimeS = 0; // as measured, path and audio delay included; seconds since UTC
                           // midnight of the first crossing's sweep start when the period is open
    int heard = 0;
    double snrDb = 0;      // median over the crossings
    double firstHeard = 0; // epoch seconds of the first and last crossing
    double lastHeard = 0;
    bool confirmed = false;

    bool operator==(const HeardSounder&) const = default;
};

// The candidate periods: the divisors of a day from a minute to an hour, ascending.
const std::vector<int>& CandidatePeriods();

// The largest candidate period that divides every interval between the crossings (in time
// order), within SounderGrouper::kToleranceS; 0 when none does or there is one crossing.
double SharedPeriod(const std::vector<const ChirpDetection*>& crossings);

// The sounders of `after` that `before` did not hold (a sounder is its rate and first crossing):
// those a crossing has just confirmed, whichever of their crossings it was, the newest or not.
std::vector<HeardSounder> NewlyConfirmed(const std::vector<HeardSounder>& before,
                                         const std::vector<HeardSounder>& after);

// Crossings are taken one at a time: a crossing that continues a confirmed sounder (its rate
// and direction, whole periods after its last) joins it; any other waits in a pool of the last
// hours, where each new one is checked for a sounder it confirms, shortest periods first so that
// a fast sounder's crossings are not taken for a slower one missing every other crossing. The
// cost of a crossing grows with the pool only, never with the time listened.
// Rising crossings of the pool are also grouped as they come into the unconfirmed list: each
// joins the newest group of its rate whose crossings it shares a candidate period with, or
// starts one. A group is listed while a crossing could still join it and confirm it (two of its
// periods, or of the longest one while the period is open, after its last crossing), and only
// the newest kMostUnconfirmed are kept, so reading the list costs the same after a day.
// Weak detections (ChirpDetection::weak) are never crossings of their own: they are kept aside,
// unlisted, and count only where they continue a confirmed sounder or lie one period from the
// crossings of one that kStrongToConfirm crossings over the threshold (or timed weak ones,
// ChirpDetection::timed, which keying and speech make a few dozen an hour, not thousands) have
// begun, and only while they are few (where speech or noise make them by the second, one lying
// a period from a crossing by chance is no evidence).
class SounderGrouper {
public:
    static constexpr double kToleranceS = 0.005; // intervals are whole periods within this
    // Unconfirmed crossings are kept this long: three of the longest periods and a minute.
    static constexpr double kPoolSeconds = 3 * 3600 + 60;
    static constexpr std::size_t kMostUnconfirmed = 30; // rows of the unconfirmed list
    static constexpr int kStrongToConfirm = 2;      // of the three confirming crossings, or timed
    static constexpr std::size_t kMostWeak = 20000; // weak detections kept (noise makes many)
    // Weak detections count while this many or fewer are expected by chance within kToleranceS
    // of a given instant, from their rate over the last kWeakRateSeconds.
    static constexpr double kWeakByChance = 0.005;
    static constexpr double kWeakRateSeconds = 300;

    explicit SounderGrouper(double listenKhz) : listenKhz(listenKhz) {}

    // Takes a detection (in about time order); returns true when the confirmed sounders changed
    // (for a weak one: when it was taken as a crossing).
    bool Add(const ChirpDetection& detection);
    // The weak detections an Add before this call took into a sounder besides the detection it
    // was given: kept aside when they came, they are told now, once.
    std::vector<ChirpDetection> TakeWeakMembers() { return std::exchange(weakMembers, {}); }

    const std::vector<HeardSounder>& Confirmed() const { return confirmed; }
    // Rising crossings not in a confirmed sounder that could still be, grouped where their
    // intervals share a candidate period; newest first, at most kMostUnconfirmed.
    std::vector<HeardSounder> Unconfirmed() const;
    // A sounder confirmed from falling chirps and none from rising ones: the radio seems to be
    // in LSB. Scattered falling detections (keyed carriers can make some) are not enough.
    bool SeemsLsb() const;
    // Crossings taken, after detections of one crossing by several filters are made one.
    long long CrossingCount() const { return crossingCount; }
    double ListenKhz() const { return listenKhz; }

private:
    // A confirmed sounder with what its figures are made of.
    struct Track {
        HeardSounder shown;
        bool falling = false;
        double firstStart = 0;   // sweep start of the first crossing, epoch seconds
        double offsetSum = 0;    // of later sweep starts from whole periods after it
        std::vector<double> snr; // of every crossing
    };

    // Crossings of the unconfirmed list sharing a period, oldest first; `shown` describes them.
    struct Group {
        std::vector<ChirpDetection> members;
        HeardSounder shown;
    };

    bool Join(const ChirpDetection& crossing);
    bool AddWeak(const ChirpDetection& detection);
    bool ConfirmFromPool(const ChirpDetection& crossing);
    // Whether weak detections like `like` (rate, direction) are few enough to count at its time.
    bool FewWeak(const ChirpDetection& like) const;
    // The weak detection like `like` (rate, direction) within kToleranceS of `time`, or none.
    const ChirpDetection* WeakNear(double time, const ChirpDetection& like) const;
    void Show();
    void Listed(const ChirpDetection& crossing);
    // Drops from the list the crossings no longer in the pool (confirmed or replaced) and the
    // groups nothing can join any more.
    void Prune(double now);

    double listenKhz;
    long long crossingCount = 0;
    std::vector<ChirpDetection> pool;        // by time
    std::vector<ChirpDetection> weak;        // by time, the last kPoolSeconds and kMostWeak
    std::vector<ChirpDetection> weakMembers; // TakeWeakMembers
    std::vector<Track> tracks;
    std::vector<HeardSounder> confirmed;
    std::vector<HeardSounder> fallingConfirmed;
    std::vector<Group> listed; // newest last crossing last
};

} // namespace ionogram
