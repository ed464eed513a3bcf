#pragma once

// Captures the receiver's audio from a PulseAudio source: mono 16-bit samples handed to the
// owner's thread with the time they arrived (seconds since the Unix epoch), taken in the
// stream's read callback the moment a fragment of about 20 ms is there, so the ionogram can
// place them on the clock to a fraction of a millisecond. A failure stops the capture and is
// reported once; the owner decides when to try again.

#include "core/status.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <memory>
#include <vector>

namespace ionogram {

// One input PulseAudio offers: its source name, which Start takes, and what the user reads.
struct AudioInput {
    QString id;
    QString description;

    bool operator==(const AudioInput&) const = default;
};

// The inputs of the audio server in its order, real inputs first, then the monitors of outputs
// (what a program such as an SDR receiver plays). Empty when no server answers within 2 s.
std::vector<AudioInput> ListAudioInputs();

// What the user is told when the input cannot be opened, and when it stops delivering.
QString AudioOpenFailure(const QString& input, const QString& reason);
QString AudioStopFailure(const QString& input, const QString& reason);
// What the user is told when an input that failed delivers sound again.
QString AudioResumed(const QString& input);

class AudioCapture : public QObject {
    Q_OBJECT
public:
    static constexpr int kLowestRate = 8000;  // Hz
    static constexpr double kFragmentMs = 20; // the server hands over audio this often

    explicit AudioCapture(QObject* parent = nullptr);
    ~AudioCapture() override;
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Starts capturing the source named input (empty: the server's default input) at
    // sampleRate, stopping a capture already running. Returns at once; a failure to open comes
    // as Failed.
    void Start(const QString& input, int sampleRate);
    // Ends the capture; returns promptly. No Audio or Failed follows.
    void Stop();
    bool Running() const;

    const QString& Input() const { return input; }

signals:
    // A block of samples, emitted on the owner's thread; arrival is when the block came in from
    // the server (seconds since the Unix epoch, UTC).
    void Audio(QVector<qint16> samples, double arrival);
    // The capture could not start or stopped; it is not running any more.
    void Failed(Status status);

private:
    struct Stream;
    friend struct Stream;

    // Called on the server's thread.
    void Deliver(unsigned generation, QVector<qint16> samples, double arrival);
    void Fail(unsigned generation, bool opened, const QString& reason);

    std::unique_ptr<Stream> stream;
    QString input;
    unsigned generation = 0; // counts captures, so a stopped one's queued blocks are dropped
};

} // namespace ionogram
