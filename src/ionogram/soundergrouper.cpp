#include "ionogram/soundergrouper.h"

#include "ionogram/sounder.h"

#include <algorithm>
#include <cmath>

namespace ionogram {

namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kShortestPeriod = 60;
constexpr int kLongestPeriod = 3600;
constexpr int kConfirmingCrossings = 3;
constexpr int kConfirmingIntervals = 2;

// How far apart one crossing's detections by different filters can lie: a filter matches part
// of a slower sweep anywhere from 0 Hz up to the top of the passband.
double CrossingSpan(double rateKhzPerS) {
    return kPassHighHz / (rateKhzPerS * kHzPerKhz) + SounderGrouper::kToleranceS;
}

// Distance of x from the nearest whole multiple of period.
double OffWhole(double x, double period) {
    return std::abs(x - period * std::round(x / period));
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

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

bool SounderGrouper::Add(const ChirpDetection& detection) {
    // One crossing seen by several rates' filters: keep the rate heard best.
    for (ChirpDetection& crossing : crossings) {
        const double within =
            std::max(CrossingSpan(crossing.rateKhzPerS), CrossingSpan(detection.rateKhzPerS));
        if (std::abs(crossing.time - detection.time) <= within) {
            if (detection.snrDb <= crossing.snrDb) {
                return false;
            }
            crossing = detection;
            const auto before = confirmed;
            std::sort(crossings.begin(), crossings.end(),
                      [](const auto& a, const auto& b) { return a.time < b.time; });
            Regroup();
            return confirmed != before;
        }
    }
    const auto place =
        std::upper_bound(crossings.begin(), crossings.end(), detection,
                         [](const auto& a, const auto& b) { return a.time < b.time; });
    crossings.insert(place, detection);
    const auto before = confirmed;
    Regroup();
    return confirmed != before;
}

bool SounderGrouper::SeemsLsb() const {
    return confirmed.empty() && !fallingConfirmed.empty();
}

void SounderGrouper::Regroup() {
    std::vector<HeardSounder> fallingUnconfirmed;
    Group(false, &confirmed, &unconfirmed);
    Group(true, &fallingConfirmed, &fallingUnconfirmed);
}

void SounderGrouper::Group(bool falling, std::vector<HeardSounder>* confirmed,
                           std::vector<HeardSounder>* unconfirmed) const {
    confirmed->clear();
    unconfirmed->clear();
    std::vector<double> rates;
    for (const ChirpDetection& c : crossings) {
        if (c.falling == falling &&
            std::find(rates.begin(), rates.end(), c.rateKhzPerS) == rates.end()) {
            rates.push_back(c.rateKhzPerS);
        }
    }
    std::sort(rates.begin(), rates.end());

    // A group of crossings as a sounder: its period the largest candidate dividing every
    // interval (given), its chirp time the mean of the members' sweep starts modulo it.
    auto describe = [this](const std::vector<const ChirpDetection*>& members, double period) {
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
        double chirp = std::fmod(first + offsets / double(members.size()), modulus);
        if (chirp < 0) {
            chirp += modulus;
        }
        s.chirpTimeS = chirp;
        s.snrDb = Median(snr);
        s.firstHeard = members.front()->time;
        s.lastHeard = members.back()->time;
        return s;
    };

    for (double rate : rates) {
        std::vector<const ChirpDetection*> left;
        for (const ChirpDetection& c : crossings) {
            if (c.falling == falling && c.rateKhzPerS == rate) {
                left.push_back(&c);
            }
        }
        // Shortest periods first, so that a fast sounder's crossings are taken before they
        // could pass for a slower one missing every other crossing.
        for (int period : CandidatePeriods()) {
            std::vector<bool> taken(left.size(), false);
            for (std::size_t i = 0; i < left.size(); ++i) {
                if (taken[i]) {
                    continue;
                }
                std::vector<std::size_t> group{i};
                for (std::size_t j = i + 1; j < left.size(); ++j) {
                    if (!taken[j] &&
                        OffWhole(left[j]->time - left[i]->time, period) <= kToleranceS) {
                        group.push_back(j);
                    }
                }
                int exact = 0;
                for (std::size_t g = 1; g < group.size(); ++g) {
                    const double interval = left[group[g]]->time - left[group[g - 1]]->time;
                    if (std::abs(interval - period) <= kToleranceS) {
                        ++exact;
                    }
                }
                if (int(group.size()) < kConfirmingCrossings || exact < kConfirmingIntervals) {
                    continue;
                }
                std::vector<const ChirpDetection*> members;
                for (std::size_t g : group) {
                    taken[g] = true;
                    members.push_back(left[g]);
                }
                HeardSounder s = describe(members, period);
                s.confirmed = true;
                confirmed->push_back(s);
            }
            std::vector<const ChirpDetection*> rest;
            for (std::size_t i = 0; i < left.size(); ++i) {
                if (!taken[i]) {
                    rest.push_back(left[i]);
                }
            }
            left.swap(rest);
        }
        // What is left, kept apart: crossings whose intervals share a candidate period form a
        // group with the largest such period; a lone crossing leaves the period open.
        std::vector<bool> taken(left.size(), false);
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (taken[i]) {
                continue;
            }
            std::vector<const ChirpDetection*> members{left[i]};
            taken[i] = true;
            double period = 0;
            for (std::size_t j = i + 1; j < left.size(); ++j) {
                members.push_back(left[j]);
                if (const double shared = SharedPeriod(members); !taken[j] && shared > 0) {
                    taken[j] = true;
                    period = shared;
                } else {
                    members.pop_back();
                }
            }
            unconfirmed->push_back(describe(members, period));
        }
    }
    const auto byFirstHeard = [](const HeardSounder& a, const HeardSounder& b) {
        return a.firstHeard < b.firstHeard;
    };
    std::sort(confirmed->begin(), confirmed->end(), byFirstHeard);
    std::sort(unconfirmed->begin(), unconfirmed->end(), byFirstHeard);
}

} // namespace ionogram
