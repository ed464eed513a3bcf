#pragma once

// The windowless run ends on SIGINT or SIGTERM after releasing the port; the handler only
// writes a byte, and the event loop does the rest.

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <memory>

namespace headless {

// SIGINT and SIGTERM through a self-pipe into the event loop: the first one is reported by
// Received; a second one ends the program at once.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // Why the signals cannot be caught ("" when they can).
    const QString& Problem() const { return problem; }

signals:
    void Received(int signalNumber);

private:
    void Read();

    std::unique_ptr<QSocketNotifier> notifier;
    QString problem;
};

} // namespace headless
