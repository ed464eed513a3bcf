#include "ionogram/ionogram.h"

#include "core/units.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ionogram {

namespace {

constexpr double kKeepAudioSeconds = 10; // audio kept for columns still waiting
constexpr double kGiveUpSeconds = 2;     // a column's audio not placeable by then is lost
constexpr std::int64_t kSlackSamples = 2;

std::vector<float> NanRow(int cells) {
    return std::vector<float>(std::size_t(cells), std::numeric_limits<float>::quiet_NaN());
}

DechirpSettings ColumnSettings(const IonogramSettings& settings) {
    DechirpSettings column;
    column.sampleRate = settings.sampleRate;
    column.sweepRateKhzPerS = settings.profile.sweepRate;
    column.delayFromMs = settings.delayFromMs;
    column.delayToMs = settings.delayToMs;
    column.audioDelayMs = settings.audioDelayMs;
    return column;
}

} // namespace

int IonogramSweep::DelayCount() const {
    return int(std::lround((delayToMs - delayFromMs) / kDelayGridMs)) + 1;
}

bool IonogramSweep::Usable(const std::vector<float>& row) {
    return !row.empty() &&
           std::none_of(row.begin(), row.end(), [](float v) { return std::isnan(v); });
}

double EpochFromSecondsOfDay(double secondsOfDay, double nowEpoch) {
    const double midnight = std::floor(nowEpoch / units::kSecondsPerDay) * units::kSecondsPerDay;
    double epoch = midnight + secondsOfDay;
    if (epoch - nowEpoch > units::kSecondsPerDay / 2) {
        epoch -= units::kSecondsPerDay;
    } else if (nowEpoch - epoch > units::kSecondsPerDay / 2) {
        epoch += units::kSecondsPerDay;
    }
    return epoch;
}

Ionogram::Ionogram(const IonogramSettings& ionogramSettings)
    : settings(ionogramSettings), dechirp(ColumnSettings(settings)) {
    BeginSweep(0);
}

void Ionogram::BeginSweep(double chirpTime, const QString& sounder) {
    steps.clear();
    sweep = IonogramSweep{};
    sweep.sounder = sounder;
    sweep.chirpTime = chirpTime;
    sweep.profile = settings.profileName;
    sweep.audioInput = settings.audioInput;
    sweep.sampleRate = settings.sampleRate;
    sweep.audioDelayMs = settings.audioDelayMs;
    sweep.delayFromMs = settings.delayFromMs;
    sweep.delayToMs = settings.delayToMs;
    sweep.lowKhz = settings.profile.lowFrequency;
    sweep.highKhz = settings.profile.highFrequency;
}

int Ionogram::AddStep(double frequencyKhz, double mark) {
    if (steps.empty()) {
        sweep.startUtc = QDateTime::fromMSecsSinceEpoch(
            std::int64_t(std::floor(mark)) * std::int64_t(units::kMillisecondsPerSecond), Qt::UTC);
    }
    steps.push_back(Step{mark, std::nullopt, false});
    sweep.frequenciesKhz.push_back(frequencyKhz);
    sweep.snrDb.push_back(NanRow(dechirp.DelayCount()));
    TryColumns();
    return int(steps.size()) - 1;
}

void Ionogram::SetReached(int step, bool reached) {
    if (step < 0 || step >= int(steps.size())) {
        return;
    }
    steps[step].reached = reached;
    TryColumns();
}

std::int64_t Ionogram::Run::IndexAt(double t) const {
    return lastBlock + std::int64_t(std::ceil((t - lastBlockTime) / interval));
}

void Ionogram::AddAudio(const PlacedBlock& block) {
    if (block.samples.empty() || !(block.sampleInterval > 0)) {
        return;
    }
    if (runs.empty() || block.afterGap) {
        runs.emplace_back();
    }
    Run& run = runs.back();
    run.lastBlock = run.End();
    run.lastBlockTime = block.firstSampleTime;
    run.interval = block.sampleInterval;
    run.samples.insert(run.samples.end(), block.samples.begin(), block.samples.end());
    placedUntil = block.firstSampleTime + double(block.samples.size()) * block.sampleInterval;
    TryColumns();
    TrimAudio();
}

void Ionogram::TrimAudio() {
    const double keepFrom = placedUntil - kKeepAudioSeconds;
    while (runs.size() > 1 && runs.front().TimeOf(runs.front().End()) < keepFrom) {
        runs.pop_front();
    }
    Run& newest = runs.back();
    const auto keep = std::size_t(kKeepAudioSeconds * settings.sampleRate);
    if (newest.samples.size() > 2 * keep) { // now and then, so the copying stays small
        const std::size_t drop = newest.samples.size() - keep;
        newest.samples.erase(newest.samples.begin(), newest.samples.begin() + std::ptrdiff_t(drop));
        newest.start += std::int64_t(drop);
    }
}

void Ionogram::TryColumns() {
    for (int i = 0; i < int(steps.size()); ++i) {
        if (!steps[i].done && steps[i].reached) {
            steps[i].done = !*steps[i].reached || TryColumn(i);
        } else if (!steps[i].done && steps[i].reached.has_value()) {
            steps[i].done = true; // not reached: stays NaN
        }
    }
}

// Returns true when the column is settled: computed, or known to be lost.
bool Ionogram::TryColumn(int index) {
    const double crossing = steps[index].mark + sweep::HalfStep(settings.profile);
    const double needFrom = crossing + dechirp.NeedFrom();
    const double needTo = crossing + dechirp.NeedTo();
    const bool late = placedUntil > needTo + kGiveUpSeconds;
    // The newest run that reaches back to the column's first sample holds it, if any does.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        const std::int64_t first = run->IndexAt(needFrom) - kSlackSamples;
        if (first < run->start) {
            continue;
        }
        const std::int64_t last = run->IndexAt(needTo) + kSlackSamples;
        if (last >= run->End()) {
            // The newest run may still grow; an older one ended in a gap.
            return run == runs.rbegin() ? late : true;
        }
        const auto span =
            std::span<const float>(run->samples)
                .subspan(std::size_t(first - run->start), std::size_t(last - first + 1));
        std::vector<float> row;
        if (dechirp.Compute(span, run->TimeOf(first), run->interval, crossing, &row)) {
            sweep.snrDb[index] = std::move(row);
        }
        return true;
    }
    return runs.empty() ? late : true; // gone by (or lost in a gap): stays NaN
}

int Ionogram::ColumnsDone() const {
    return int(std::count_if(steps.begin(), steps.end(), [](const Step& s) { return s.done; }));
}

IonogramSweep Ionogram::SweepComplete() {
    TryColumns();
    int reached = 0;
    int missing = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].reached.value_or(true)) {
            ++reached;
            missing += IonogramSweep::Usable(sweep.snrDb[i]) ? 0 : 1;
        }
    }
    IonogramSweep done = std::move(sweep);
    done.cutShort = done.cutShort || 2 * missing > reached;
    BeginSweep(done.chirpTime, done.sounder);
    return done;
}

} // namespace ionogram
