#include "ionogram/soundergrouper.h"

#include "core/median.h"
#include "core/units.h"
#include "ionogram/sounder.h"

#include <algorithm>
#include <cmath>

namespace ionogram {

namespace {

constexpr int kSecondsPerDay = static_cast<int>(units::kSecondsPerDay);
constexpr int kShortestPeriod = 60;
constexpr int kLongestPeriod = 3600;
constexpr int kConfirmingCrossings = 3;
constexpr int kConfirmingIntervals = 2;
constexpr double kListedPeriods = 2; // a group is listed this many periods after its last crossing

// How far apart one crossing's detections by different filters can lie: a filter matches part
// of a slower sweep anywhere from 0 Hz up to the top of the passband.
double CrossingSpan(double rateKhzPerS) {
    return kPassHighHz / (rateKhzPerS * units::kHertzPerKilohertz) + SounderGrouper::kToleranceS;
}

// Distance of x from the nearest whole multiple of period.
double OffWhole(double x, double period) {
    return std::abs(x - period * std::round(x / period));
}

} // namespace

std::vector<HeardSounder> NewlyConfirmed(const std::vector<HeardSounder>& before,
                                         const std::vector<HeardSounder>& after) {
    std::vector<HeardSounder> out;
    for (const HeardSounder& s : after) {
        if (std::none_of(before.begin(), before.end(), [&s](const HeardSounder& b) {
                return b.rateKhzPerS == s.rateKhzPerS && b.firstHeard == s.firstHeard;
            })) {
            out.push_back(s);
        }
    }
    return out;
}

double SharedPeriod(const std::vector<const ChirpDetection*>& crossings) {
    const auto& periods = CandidatePeriods();
    for (auto p = periods.rbegin(); p != periods.rend() && crossings.size() > 1; ++p) {
        bool divides = true;
        for (std::size_t i = 1; i < crossings.size() && divides; ++i) {
            divides = OffWhole(crossings[i]->time - crossings[0]->time, *p) <=
                      SounderGrouper::kToleranceS;
        }
        if (divides) {
            return *p;
        }
    }
    return 0;
}

const std::vector<int>& CandidatePeriods() {
    static const std::vector<int> periods = [] {
        std::vector<int> list;
        for (int p = kShortestPeriod; p <= kLongestPeriod; ++p) {
            if (kSecondsPerDay % p == 0) {
                list.push_back(p);
            }
        }
        return list;
    }();
    return periods;
}

namespace {

constexpr double kRecentSeconds = 1; // detections of one crossing arrive within this of each other

// Crossings (in time order) as a sounder of the given period, unconfirmed; its chirp time is
// the mean of the members' sweep starts modulo the period (of the day when it is open).
HeardSounder Describe(const std::vector<const ChirpDetection*>& members, double period,
                      double listenKhz) {
    HeardSounder s;
    s.rateKhzPerS = members.front()->rateKhzPerS;
    s.periodS = period;
    s.heard = int(members.size());
    const double lead = listenKhz / s.rateKhzPerS;
    const double first = members.front()->time - lead;
    const double modulus = period > 0 ? period : kSecondsPerDay;
    double offsets = 0;
    std::vector<double> snr;
    for (const ChirpDetection* c : members) {
        const double start = c->time - lead;
        offsets += (start - first) - modulus * std::round((start - first) / modulus);
        snr.push_back(c->snrDb);
    }
    s.chirpTimeS =
        std::fmod(std::fmod(first + offsets / double(members.size()), modulus) + modulus, modulus);
    s.snrDb = Median(snr);
    s.firstHeard = members.front()->time;
    s.lastHeard = members.back()->time;
    return s;
}

std::vector<const ChirpDetection*> Pointers(const std::vector<ChirpDetection>& crossings) {
    std::vector<const ChirpDetection*> out;
    for (const ChirpDetection& c : crossings) {
        out.push_back(&c);
    }
    return out;
}

bool ByTime(const ChirpDetection& a, const ChirpDetection& b) {
    return a.time < b.time;
}

} // namespace

bool SounderGrouper::Add(const ChirpDetection& detection) {
    if (detection.weak) {
        return AddWeak(detection);
    }
    // One crossing seen by several filters: the first taken stands unless this one is heard
    // better; a weaker echo of a sounder's crossing changes nothing.
    for (Track& track : tracks) {
        const HeardSounder& s = track.shown;
        if (std::abs(s.lastHeard - detection.time) <=
            std::max(CrossingSpan(s.rateKhzPerS), CrossingSpan(detection.rateKhzPerS))) {
            if (detection.rateKhzPerS == s.rateKhzPerS && detection.falling == track.falling &&
                detection.snrDb > track.snr.back()) {
                track.snr.back() = detection.snrDb;
                const auto before = confirmed;
                Show();
                return confirmed != before;
            }
            return false;
        }
    }
    bool replacing = false;
    for (auto c = pool.rbegin(); c != pool.rend() && c->time >= detection.time - kRecentSeconds;
         ++c) {
        if (std::abs(c->time - detection.time) <=
            std::max(CrossingSpan(c->rateKhzPerS), CrossingSpan(detection.rateKhzPerS))) {
            if (detection.snrDb <= c->snrDb) {
                return false;
            }
            pool.erase(std::next(c).base());
            replacing = true;
            break;
        }
    }
    if (!replacing) {
        ++crossingCount;
    }
    if (Join(detection)) {
        Prune(detection.time);
        return true;
    }
    pool.insert(std::upper_bound(pool.begin(), pool.end(), detection, ByTime), detection);
    const double forgetBefore = pool.back().time - kPoolSeconds;
    pool.erase(pool.begin(), std::find_if(pool.begin(), pool.end(), [forgetBefore](const auto& c) {
                   return c.time >= forgetBefore;
               }));
    const bool changed = ConfirmFromPool(detection);
    if (!changed && !detection.falling) {
        Listed(detection);
    }
    Prune(detection.time);
    return changed;
}

bool SounderGrouper::AddWeak(const ChirpDetection& detection) {
    // Beside a crossing taken, a weak detection is another filter's view of it.
    for (const Track& track : tracks) {
        if (std::abs(track.shown.lastHeard - detection.time) <=
            std::max(CrossingSpan(track.shown.rateKhzPerS), CrossingSpan(detection.rateKhzPerS))) {
            return false;
        }
    }
    for (auto c = pool.rbegin(); c != pool.rend() && c->time >= detection.time - kRecentSeconds;
         ++c) {
        if (std::abs(c->time - detection.time) <=
            std::max(CrossingSpan(c->rateKhzPerS), CrossingSpan(detection.rateKhzPerS))) {
            return false;
        }
    }
    if (FewWeak(detection) && Join(detection)) {
        ++crossingCount;
        Prune(detection.time);
        return true;
    }
    weak.insert(std::upper_bound(weak.begin(), weak.end(), detection, ByTime), detection);
    const double forgetBefore = weak.back().time - kPoolSeconds;
    weak.erase(weak.begin(), std::find_if(weak.begin(), weak.end(), [forgetBefore](const auto& c) {
                   return c.time >= forgetBefore;
               }));
    if (weak.size() > kMostWeak) {
        weak.erase(weak.begin(), weak.end() - long(kMostWeak));
    }
    if (!ConfirmFromPool(detection)) {
        return false;
    }
    ++crossingCount;
    Prune(detection.time);
    return true;
}

bool SounderGrouper::FewWeak(const ChirpDetection& like) const {
    ChirpDetection from;
    from.time = like.time - kWeakRateSeconds;
    int count = 0;
    for (auto w = std::lower_bound(weak.begin(), weak.end(), from, ByTime);
         w != weak.end() && w->time <= like.time; ++w) {
        count += w->rateKhzPerS == like.rateKhzPerS && w->falling == like.falling ? 1 : 0;
    }
    return count * 2 * kToleranceS / kWeakRateSeconds <= kWeakByChance;
}

const ChirpDetection* SounderGrouper::WeakNear(double time, const ChirpDetection& like) const {
    ChirpDetection from;
    from.time = time - kToleranceS;
    for (auto w = std::lower_bound(weak.begin(), weak.end(), from, ByTime);
         w != weak.end() && w->time <= time + kToleranceS; ++w) {
        if (w->rateKhzPerS == like.rateKhzPerS && w->falling == like.falling) {
            return &*w;
        }
    }
    return nullptr;
}

void SounderGrouper::Listed(const ChirpDetection& crossing) {
    for (auto g = listed.rbegin(); g != listed.rend(); ++g) {
        if (g->members.front().rateKhzPerS != crossing.rateKhzPerS) {
            continue;
        }
        std::vector<const ChirpDetection*> members = Pointers(g->members);
        members.push_back(&crossing);
        if (const double period = SharedPeriod(members); period > 0) {
            Group group = std::move(*g);
            listed.erase(std::next(g).base());
            group.members.push_back(crossing);
            group.shown = Describe(Pointers(group.members), period, listenKhz);
            listed.push_back(std::move(group));
            return;
        }
    }
    listed.push_back({{crossing}, Describe({&crossing}, 0, listenKhz)});
    if (listed.size() > kMostUnconfirmed) {
        listed.erase(listed.begin());
    }
}

void SounderGrouper::Prune(double now) {
    const auto inPool = [this](const ChirpDetection& c) {
        const auto at = std::lower_bound(pool.begin(), pool.end(), c, ByTime);
        return at != pool.end() && *at == c;
    };
    for (Group& group : listed) {
        const auto gone = std::remove_if(group.members.begin(), group.members.end(),
                                         [&](const ChirpDetection& c) { return !inPool(c); });
        if (gone == group.members.end()) {
            continue;
        }
        group.members.erase(gone, group.members.end());
        if (!group.members.empty()) {
            const auto members = Pointers(group.members);
            group.shown = Describe(members, SharedPeriod(members), listenKhz);
        }
    }
    std::erase_if(listed, [now](const Group& group) {
        const double wait = group.shown.periodS > 0 ? group.shown.periodS : kLongestPeriod;
        return group.members.empty() ||
               now > group.shown.lastHeard + kListedPeriods * wait + kToleranceS;
    });
}

bool SounderGrouper::Join(const ChirpDetection& crossing) {
    for (Track& track : tracks) {
        HeardSounder& s = track.shown;
        if (crossing.rateKhzPerS != s.rateKhzPerS || crossing.falling != track.falling ||
            crossing.time <= s.lastHeard ||
            OffWhole(crossing.time - s.lastHeard, s.periodS) > kToleranceS) {
            continue;
        }
        const double start = crossing.time - listenKhz / s.rateKhzPerS;
        const double fromFirst = start - track.firstStart;
        track.offsetSum += fromFirst - s.periodS * std::round(fromFirst / s.periodS);
        track.snr.push_back(crossing.snrDb);
        ++s.heard;
        s.lastHeard = crossing.time;
        Show();
        return true;
    }
    return false;
}

bool SounderGrouper::ConfirmFromPool(const ChirpDetection& crossing) {
    // Crossings, and weak detections timed as sweeps, like this one can begin a sounder.
    std::vector<const ChirpDetection*> alike;
    const auto like = [&crossing](const ChirpDetection& c) {
        return c.rateKhzPerS == crossing.rateKhzPerS && c.falling == crossing.falling;
    };
    for (const ChirpDetection& c : pool) {
        if (like(c)) {
            alike.push_back(&c);
        }
    }
    for (const ChirpDetection& w : weak) {
        if (w.timed && like(w)) {
            alike.push_back(&w);
        }
    }
    if (int(alike.size()) < kStrongToConfirm) {
        return false;
    }
    const bool weakCount = FewWeak(crossing);
    for (int period : CandidatePeriods()) {
        std::vector<const ChirpDetection*> group;
        for (const ChirpDetection* c : alike) {
            if (OffWhole(c->time - crossing.time, period) <= kToleranceS) {
                group.push_back(c);
            }
        }
        if (int(group.size()) < kStrongToConfirm) {
            continue;
        }
        // Weak detections a period before or after the crossings fill in the ones missed.
        std::vector<const ChirpDetection*> members = group;
        for (const ChirpDetection* g : group) {
            for (const double side : {-1.0, 1.0}) {
                if (!weakCount) {
                    break;
                }
                const ChirpDetection* w = WeakNear(g->time + side * period, crossing);
                if (w != nullptr && std::find(members.begin(), members.end(), w) == members.end()) {
                    members.push_back(w);
                }
            }
        }
        std::sort(
            members.begin(), members.end(),
            [](const ChirpDetection* a, const ChirpDetection* b) { return a->time < b->time; });
        int exact = 0;
        for (std::size_t g = 1; g < members.size(); ++g) {
            if (std::abs(members[g]->time - members[g - 1]->time - period) <= kToleranceS) {
                ++exact;
            }
        }
        if (int(members.size()) < kConfirmingCrossings || exact < kConfirmingIntervals) {
            continue;
        }
        Track track;
        for (const ChirpDetection* c : members) {
            track.snr.push_back(c->snrDb);
        }
        track.shown = Describe(members, period, listenKhz);
        track.shown.confirmed = true;
        track.falling = crossing.falling;
        track.firstStart = members.front()->time - listenKhz / crossing.rateKhzPerS;
        for (const ChirpDetection* c : members) {
            const double fromFirst = c->time - listenKhz / crossing.rateKhzPerS - track.firstStart;
            track.offsetSum += fromFirst - period * std::round(fromFirst / period);
        }
        std::vector<ChirpDetection> taken;
        for (const ChirpDetection* c : members) {
            taken.push_back(*c);
            if (c->weak && !(*c == crossing)) {
                weakMembers.push_back(*c);
            }
        }
        const auto wasTaken = [&taken](const ChirpDetection& c) {
            return std::find(taken.begin(), taken.end(), c) != taken.end();
        };
        std::erase_if(pool, wasTaken);
        std::erase_if(weak, wasTaken);
        tracks.push_back(std::move(track));
        Show();
        return true;
    }
    return false;
}

void SounderGrouper::Show() {
    confirmed.clear();
    fallingConfirmed.clear();
    for (Track& track : tracks) {
        HeardSounder& s = track.shown;
        const double mean = track.firstStart + track.offsetSum / double(s.heard);
        s.chirpTimeS = std::fmod(std::fmod(mean, s.periodS) + s.periodS, s.periodS);
        s.snrDb = Median(track.snr);
        (track.falling ? fallingConfirmed : confirmed).push_back(s);
    }
    const auto byFirstHeard = [](const HeardSounder& a, const HeardSounder& b) {
        return a.firstHeard < b.firstHeard;
    };
    std::sort(confirmed.begin(), confirmed.end(), byFirstHeard);
    std::sort(fallingConfirmed.begin(), fallingConfirmed.end(), byFirstHeard);
}

bool SounderGrouper::SeemsLsb() const {
    return confirmed.empty() && !fallingConfirmed.empty();
}

std::vector<HeardSounder> SounderGrouper::Unconfirmed() const {
    std::vector<HeardSounder> out;
    for (auto g = listed.rbegin(); g != listed.rend(); ++g) {
        out.push_back(g->shown);
    }
    return out;
}

} // namespace ionogram
