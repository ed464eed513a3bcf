#include "ionogram/ionogram.h"

#include "core/units.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ionogram {

namespace {

constexpr double kKeepAudioSeconds = 10; // audio kept for columns still waiting
constexpr double kGiveUpSeconds = 2;     // a column's audio not placeable by then is lost
constexpr float kFullScale16 = 32768.0f;
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
    : settings(ionogramSettings), dechirp(ColumnSettings(settings)),
      placer(settings.sampleRate, settings.placer) {
    BeginSweep(0);
}

void Ionogram::BeginSweep(double chirpTime) {
    steps.clear();
    sweep = IonogramSweep{};
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

void Ionogram::AddAudio(std::span<const std::int16_t> samples, double arrival) {
    std::vector<float> scaled(samples.size());
    std::transform(samples.begin(), samples.end(), scaled.begin(),
                   [](std::int16_t s) { return float(s) / kFullScale16; });
    AddAudio(std::span<const float>(scaled), arrival);
}

void Ionogram::AddAudio(std::span<const float> samples, double arrival) {
    if (samples.empty()) {
        return;
    }
    audio.insert(audio.end(), samples.begin(), samples.end());
    placer.AddBlock(arrival, std::int64_t(samples.size()));
    lastArrival = arrival;
    TryColumns();
    TrimAudio();
}

void Ionogram::TrimAudio() {
    const auto keep = std::size_t(kKeepAudioSeconds * settings.sampleRate);
    if (audio.size() > 2 * keep) { // now and then, so the copying stays small
        const std::size_t drop = audio.size() - keep;
        audio.erase(audio.begin(), audio.begin() + std::ptrdiff_t(drop));
        audioStart += std::int64_t(drop);
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
    const auto from = placer.IndexAt(crossing + dechirp.NeedFrom());
    const auto to = placer.IndexAt(crossing + dechirp.NeedTo());
    if (!from || !to) {
        return false;
    }
    const std::int64_t first = *from - kSlackSamples;
    const std::int64_t last = *to + kSlackSamples;
    const bool late = lastArrival > crossing + dechirp.NeedTo() + kGiveUpSeconds;
    if (first < audioStart) {
        return true; // gone by: stays NaN
    }
    if (last >= placer.Received() || !placer.Placeable(first, last)) {
        return late;
    }
    const auto span = std::span<const float>(audio).subspan(std::size_t(first - audioStart),
                                                            std::size_t(last - first + 1));
    std::vector<float> row;
    if (dechirp.Compute(span, *placer.TimeOf(first), placer.IntervalAt(first), crossing, &row)) {
        sweep.snrDb[index] = std::move(row);
    }
    return true;
}

int Ionogram::ColumnsDone() const {
    return int(std::count_if(steps.begin(), steps.end(), [](const Step& s) { return s.done; }));
}

IonogramSweep Ionogram::SweepComplete() {
    TryColumns();
    IonogramSweep done = std::move(sweep);
    BeginSweep(done.chirpTime);
    return done;
}

} // namespace ionogram
