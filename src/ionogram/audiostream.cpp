#include "ionogram/audiostream.h"

#include <algorithm>

namespace ionogram {

namespace {

constexpr float kFullScale16 = 32768.0f;

} // namespace

BlockPlacer::BlockPlacer(double sampleRate) : placer(sampleRate) {}

BlockPlacer::BlockPlacer(double sampleRate, const SamplePlacer::Settings& settings)
    : placer(sampleRate, settings) {}

std::vector<PlacedBlock> BlockPlacer::Add(std::span<const float> samples, double arrival) {
    std::vector<PlacedBlock> out;
    if (samples.empty()) {
        return out;
    }
    pending.insert(pending.end(), samples.begin(), samples.end());
    placer.AddBlock(arrival, std::int64_t(samples.size()));
    while (pendingStart < placer.Received()) {
        const SamplePlacer::Run run = placer.PlaceableRun(pendingStart);
        if (run.first > pendingStart) {
            gap = true; // lost in a break: never placed
        }
        const std::int64_t first = std::min(run.first, placer.Received());
        if (run.last >= first) {
            PlacedBlock block;
            const auto from = std::ptrdiff_t(first - pendingStart);
            const auto to = std::ptrdiff_t(run.last + 1 - pendingStart);
            block.samples.assign(pending.begin() + from, pending.begin() + to);
            block.firstSampleTime = *placer.TimeOf(first);
            block.sampleInterval = placer.IntervalAt(first);
            block.afterGap = gap || (stretch >= 0 && run.stretch != stretch);
            stretch = run.stretch;
            gap = false;
            out.push_back(std::move(block));
        }
        const std::int64_t next = run.last >= first ? run.last + 1 : first;
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(next - pendingStart));
        pendingStart = next;
        if (run.last < first) {
            break; // the rest waits for later arrivals
        }
    }
    return out;
}

AudioStream::AudioStream(QObject* parent) : QObject(parent) {
    connect(&capture, &AudioCapture::Audio, this, &AudioStream::AudioArrived);
    connect(&capture, &AudioCapture::Failed, this, &AudioStream::CaptureFailed);
    retry.setInterval(kRetryInterval);
    retry.setSingleShot(true);
    connect(&retry, &QTimer::timeout, this, &AudioStream::Start);
}

AudioStream::~AudioStream() {
    Stop();
}

void AudioStream::Listen(const QString& next) {
    Stop();
    input = next;
    listening = true;
    placement = std::make_unique<BlockPlacer>(kSampleRate);
    Start();
}

void AudioStream::SetResting(bool rest) {
    if (!listening || rest == resting) {
        return;
    }
    resting = rest;
    if (resting) {
        retry.stop();
        capture.Stop();
    } else {
        placement = std::make_unique<BlockPlacer>(kSampleRate);
        Start();
    }
}

void AudioStream::Stop() {
    listening = false;
    resting = false;
    delivered = false;
    failing = false;
    lastProblem.clear();
    retry.stop();
    capture.Stop();
}

void AudioStream::Start() {
    if (listening && !resting && !capture.Running()) {
        capture.Start(input, kSampleRate);
    }
}

void AudioStream::CaptureFailed(const Status& status) {
    if (!listening) {
        return;
    }
    // Told once per reason; the input is tried again.
    if (status.Message() != lastProblem) {
        lastProblem = status.Message();
        failing = true;
        emit Problem(status.Message());
    }
    retry.start();
}

void AudioStream::AudioArrived(const QVector<qint16>& samples, double arrival) {
    if (!listening) {
        return;
    }
    delivered = true;
    if (failing) {
        failing = false;
        lastProblem.clear();
        emit Notice(AudioResumed(input));
    }
    std::vector<float> scaled(std::size_t(samples.size()));
    std::transform(samples.begin(), samples.end(), scaled.begin(),
                   [](qint16 s) { return float(s) / kFullScale16; });
    for (const PlacedBlock& block : placement->Add(scaled, arrival)) {
        emit Placed(block);
    }
}

} // namespace ionogram
