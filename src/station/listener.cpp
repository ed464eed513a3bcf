#include "station/listener.h"

#include "ionogram/soundersheard.h"
#include "sweep/profile.h"

#include <QDir>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kSweptKhz = 30000 - 2000; // the band a sounder sweeps, for the dwell

} // namespace

Listener::Listener(QObject* parent) : QObject(parent) {}

Listener::~Listener() = default;

double Listener::DwellSeconds(const std::vector<double>& rates) {
    const double slowest = rates.empty() ? 0 : *std::min_element(rates.begin(), rates.end());
    const double dwell = slowest > 0 ? sweep::SmallestDayDivisor(kSweptKhz / slowest) : 0;
    return dwell > 0 ? dwell : sweep::kLongestPeriod;
}

void Listener::SetTuner(Tuner* next) {
    disconnect(tunerState);
    tuner = next;
    tunerConnected = tuner != nullptr && tuner->State().connected;
    if (tuner != nullptr) {
        tunerState = connect(tuner, &Tuner::StateChanged, this, &Listener::RigStateChanged);
    }
    if (active) {
        Park();
    }
}

void Listener::Start(const std::vector<double>& frequenciesKhz) {
    frequencies = frequenciesKhz;
    heard.clear();
    if (frequencies.empty()) {
        Stop();
        return;
    }
    detector = std::make_unique<ionogram::ChirpDetector>(detectorSettings);
    current = 0;
    switchAt = 0;
    active = true;
    lsbTold = false;
    heard.push_back(std::make_unique<ionogram::SounderGrouper>(frequencies[0]));
    Park();
}

void Listener::Stop() {
    active = false;
    detector.reset();
}

double Listener::FrequencyKhz() const {
    return active ? frequencies[current] : 0;
}

void Listener::Park() {
    if (tuner == nullptr || !active) {
        return;
    }
    const auto hz = static_cast<std::int32_t>(std::lround(frequencies[current] * 1000));
    tuner->SetBand(hz, hz);
    tuner->Tune(Tuner::NewRequestId(), hz);
    emit Tuning(frequencies[current]);
}

// Tuned again whenever the backend connects anew: a radio switched off and on has forgotten.
void Listener::RigStateChanged() {
    const bool connected = tuner != nullptr && tuner->State().connected;
    if (connected && !tunerConnected) {
        tunerConnected = true;
        Park();
        return;
    }
    tunerConnected = connected;
}

void Listener::AudioPlaced(const ionogram::PlacedBlock& block) {
    if (!active || block.samples.empty()) {
        return;
    }
    if (switchAt == 0) {
        switchAt = block.firstSampleTime + DwellSeconds(detectorSettings.ratesKhzPerS);
    }
    if (frequencies.size() > 1 && block.firstSampleTime >= switchAt) {
        NextFrequency(block.firstSampleTime);
    }
    if (block.afterGap) {
        Take(detector->Gap());
    }
    Take(detector->Feed(block.samples, block.firstSampleTime, block.sampleInterval));
}

void Listener::NextFrequency(double now) {
    Take(detector->Gap());
    detector->Reset();
    current = (current + 1) % frequencies.size();
    switchAt = now + DwellSeconds(detectorSettings.ratesKhzPerS);
    if (current >= heard.size()) {
        heard.push_back(std::make_unique<ionogram::SounderGrouper>(frequencies[current]));
    }
    Park();
}

void Listener::Take(const std::vector<ionogram::ChirpDetection>& detections) {
    ionogram::SounderGrouper& grouper = *heard[current];
    bool changed = false;
    for (const ionogram::ChirpDetection& d : detections) {
        // A weak detection is told only once it has begun, completed or continued a sounder.
        if (!d.weak) {
            emit Detected(grouper.ListenKhz(), d);
        }
        const std::vector<ionogram::HeardSounder> before = grouper.Confirmed();
        if (!grouper.Add(d)) {
            continue;
        }
        for (const ionogram::ChirpDetection& member : grouper.TakeWeakMembers()) {
            emit Detected(grouper.ListenKhz(), member);
        }
        if (d.weak) {
            emit Detected(grouper.ListenKhz(), d);
        }
        changed = true;
        for (const ionogram::HeardSounder& s :
             ionogram::NewlyConfirmed(before, grouper.Confirmed())) {
            emit SounderConfirmed(grouper.ListenKhz(), s);
        }
    }
    if (!lsbTold && grouper.SeemsLsb()) {
        lsbTold = true;
        emit LsbSuspected();
    }
    if (!changed) {
        return;
    }
    emit ListChanged();
    if (archiveFolder.isEmpty()) {
        return;
    }
    const Status written = ionogram::WriteSoundersHeard(
        QDir(archiveFolder).filePath(ionogram::kSoundersHeardFile), CsvText());
    if (!written.IsOk()) {
        emit Problem(written.Message());
    }
}

QString Listener::CsvText() const {
    QString text = QString::fromLatin1(ionogram::kSoundersHeardHeader) + '\n';
    for (const auto& grouper : heard) {
        text += ionogram::SoundersHeardRows(grouper->Confirmed(), grouper->ListenKhz());
    }
    return text;
}
