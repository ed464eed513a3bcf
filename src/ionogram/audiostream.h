#pragma once

// The radio's audio as a stream any consumer can follow: the chosen input is captured, its
// samples are placed on the computer's clock and handed on in blocks with their times, gaps
// marked. The per-step ionogram listens to it; so can anything that needs the audio without a
// sweep. A failing input is told once and tried again; when it delivers again, that is told once.

#include "core/status.h"
#include "ionogram/audiocapture.h"
#include "ionogram/sampleplacer.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace ionogram {

// Samples placed on the computer's clock. Consecutive blocks continue one another unless
// afterGap says samples between them were lost (or could not be placed).
struct PlacedBlock {
    std::vector<float> samples; // full scale = 1
    double firstSampleTime = 0; // seconds since the Unix epoch (UTC) of samples[0]
    double sampleInterval = 0;  // seconds between samples, as placed on the computer's clock
    bool afterGap = false;      // samples before this block were lost
};

// Turns the sound card's blocks with their arrival times into placed blocks: samples are held
// back until the placer confirms their time, those a break left unplaceable are dropped, and the
// block after them is marked. Each block's time is the placer's fit at the moment it is handed on.
class BlockPlacer {
public:
    explicit BlockPlacer(double sampleRate);
    BlockPlacer(double sampleRate, const SamplePlacer::Settings& settings);

    // Samples that arrived at arrival (epoch seconds); returns the blocks placed by it, in order.
    std::vector<PlacedBlock> Add(std::span<const float> samples, double arrival);

private:
    SamplePlacer placer;
    std::vector<float> pending;    // samples pendingStart .. placer.Received() - 1
    std::int64_t pendingStart = 0; // first sample neither handed on nor dropped
    int stretch = -1;              // the placer's stretch of the last block handed on
    bool gap = false;              // samples were dropped since the last block
};

class AudioStream : public QObject {
    Q_OBJECT
public:
    static constexpr int kSampleRate = 48000;
    // How often an input that failed is tried again.
    static constexpr std::chrono::milliseconds kRetryInterval{2000};

    explicit AudioStream(QObject* parent = nullptr);
    ~AudioStream() override;

    // Captures this input from now on (empty: the server's default input), placing afresh.
    void Listen(const QString& input);
    // Ends the capture; nothing more is placed or told until the next Listen.
    void Stop();
    bool Listening() const { return listening; }
    const QString& Input() const { return input; }
    // Lets the input rest while nothing needs its audio (no sweep for a while, not listening):
    // the capture ends, so neither the sound server nor this program wakes for it every block.
    // Waking starts it again and places afresh: blocks come once the placer has settled, a few
    // seconds later (SamplePlacer::Settings::settleSeconds). Listen and Stop end a rest.
    void SetResting(bool rest);
    bool Resting() const { return resting; }
    // The input delivered sound since the last Listen.
    bool Delivered() const { return delivered; }

signals:
    void Placed(const ionogram::PlacedBlock& block);
    // The input could not be opened or stopped delivering: told once per reason.
    void Problem(const QString& message);
    // The input that failed delivers sound again: told once per recovery.
    void Notice(const QString& message);

private:
    void Start();
    void CaptureFailed(const Status& status);
    void AudioArrived(const QVector<qint16>& samples, double arrival);

    AudioCapture capture;
    std::unique_ptr<BlockPlacer> placement;
    QString input;
    bool listening = false;
    bool resting = false;
    bool delivered = false;
    bool failing = false; // the user was told the input failed and not yet that it came back
    QString lastProblem;
    QTimer retry;
};

} // namespace ionogram
