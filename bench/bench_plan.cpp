// The listening plan with several sounders on one radio: the share of each sounder's columns
// listened to when all the sweeps' steps fall on the same fraction of a second (whole-second
// chirp times, the worst case), through the built-in link and through rigctld's reply wait, and
// how long a plan takes to make. 100 kHz/s, 100 kHz steps from 2 to 30 MHz every 300 s, delays
// of 0 to 20 ms at 48 kHz, tuning time 50 ms.

#include "benchrow.h"
#include "ionogram/dechirp.h"
#include "rig/backendtraits.h"
#include "sweep/listeningplan.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

RigChoice Backend(const char* name) {
    RigChoice choice;
    choice.backend = QString::fromLatin1(name);
    return choice;
}

constexpr int kSets = 300;      // chirp-time sets per count of sounders
constexpr unsigned kSeed = 19;  // the sets are the same in every run
constexpr double kPeriod = 300; // s: one period holds every column of each sounder once
constexpr int kBuiltInSpeed = 19200;

struct Path {
    const char* name;
    double spacing; // s between commands
};

// The audio a column takes around its crossing, as the dechirp computes it.
std::pair<double, double> Window() {
    ionogram::DechirpSettings settings;
    const ionogram::DechirpColumn column(settings);
    return {column.NeedFrom(), column.NeedTo()};
}

// Whole-second chirp times: the first set has the sounders 1 s apart, the rest are drawn.
std::vector<std::vector<double>> ChirpSets(int count) {
    std::mt19937 random(kSeed + count);
    std::uniform_int_distribution<int> second(0, int(kPeriod) - 1);
    std::vector<std::vector<double>> sets;
    std::vector<double> adjacent;
    for (int i = 0; i < count; ++i) {
        adjacent.push_back(i);
    }
    sets.push_back(adjacent);
    while (int(sets.size()) < kSets) {
        std::vector<double> chirps;
        while (int(chirps.size()) < count) {
            const double c = second(random);
            if (std::find(chirps.begin(), chirps.end(), c) == chirps.end()) {
                chirps.push_back(c);
            }
        }
        sets.push_back(chirps);
    }
    return sets;
}

void Measure(int count, const Path& path, const std::pair<double, double>& window) {
    const sweep::PlanSettings settings{0.05, path.spacing, false};
    std::vector<std::vector<double>> shares(count); // per priority, one per set
    std::vector<double> shifts;                     // kHz, of the columns moved
    std::vector<double> planMs;
    int refused = 0;
    for (const std::vector<double>& chirps : ChirpSets(count)) {
        std::vector<sweep::FollowedSounder> sounders;
        for (int i = 0; i < count; ++i) {
            sounders.push_back({QStringLiteral("S%1").arg(i + 1), sweep::Profile{}, chirps[i],
                                window.first, window.second, std::nullopt});
        }
        refused += sweep::CheckPlan(sounders, settings).IsOk() ? 0 : 1;
        QElapsedTimer timer;
        timer.start();
        const sweep::ListeningPlan plan = sweep::MakePlan(sounders, settings, 0, kPeriod);
        planMs.push_back(timer.nsecsElapsed() / 1e6);
        for (int i = 0; i < count; ++i) {
            shares[i].push_back(100.0 * plan.tally[i].listened / plan.tally[i].columns);
        }
        for (const sweep::Slot& slot : plan.listening) {
            if (slot.Shifted()) {
                shifts.push_back(std::fabs(slot.listenHz / 1000.0 - slot.gridKhz));
            }
        }
    }
    QStringList least;
    double worst = 100;
    for (int i = 0; i < count; ++i) {
        const double lowest = *std::min_element(shares[i].begin(), shares[i].end());
        worst = std::min(worst, lowest);
        least << QString::number(lowest, 'f', 1);
    }
    const QString method =
        QStringLiteral("%1 sets of %2 whole-second chirp times (one with all 1 s apart), one "
                       "period each; spacing %3 ms; refused by the check: %4")
            .arg(kSets)
            .arg(count)
            .arg(path.spacing * 1000, 0, 'f', 1)
            .arg(refused);
    bench::PrintRow(QStringLiteral("plan, %1 sounders, %2: least share of a sounder's columns "
                                   "listened (per priority)")
                        .arg(count)
                        .arg(path.name),
                    QStringLiteral("%1 % (%2)").arg(worst, 0, 'f', 1).arg(least.join(" / ")),
                    method);
    bench::PrintRow(
        QStringLiteral("plan, %1 sounders, %2: columns moved off their step, median "
                       "and largest shift")
            .arg(count)
            .arg(path.name),
        QStringLiteral("%1 of %2; %3 / %4 kHz")
            .arg(shifts.size())
            .arg(kSets * count * sweep::StepCount(sweep::Profile{}))
            .arg(bench::Median(shifts), 0, 'f', 1)
            .arg(shifts.empty() ? 0.0 : *std::max_element(shifts.begin(), shifts.end()), 0, 'f', 1),
        method);
    bench::PrintRow(QStringLiteral("plan, %1 sounders, %2: time to plan one period (median, p99)")
                        .arg(count)
                        .arg(path.name),
                    QStringLiteral("%1 / %2 ms")
                        .arg(bench::Median(planMs), 0, 'f', 2)
                        .arg(bench::Percentile(planMs, 0.99), 0, 'f', 2),
                    method);
}

} // namespace

int main() {
    const auto window = Window();
    bench::Note(QStringLiteral("a column takes the audio from %1 to %2 ms around its crossing")
                    .arg(window.first * 1000, 0, 'f', 2)
                    .arg(window.second * 1000, 0, 'f', 2));
    const Path builtIn{"built-in link at 19200 bit/s",
                       TraitsOf(Backend("civ"), kBuiltInSpeed).commandSpacing};
    const Path rigctld{"rigctld", TraitsOf(Backend("network"), 0).commandSpacing};
    // Today the network and Hamlib backends read the frequency back after each set that no
    // other request waits behind: a second reply wait before the next set can go.
    const Path readBack{"rigctld with its read-back after each set", 2 * rigctld.spacing};
    for (const int count : {2, 4, 8}) {
        for (const Path& path : {builtIn, rigctld, readBack}) {
            Measure(count, path, window);
        }
    }
    return 0;
}
