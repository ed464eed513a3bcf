#pragma once

// The Hamlib backend: the radio driven through the Hamlib library, without a daemon, on the
// serial port and speed of the settings. One worker thread owns the RIG handle and makes every
// Hamlib call; results come back to the caller's thread as queued calls, so nothing waits for
// the radio there. A worker stuck in a call is never waited for by the caller's thread; it keeps
// its device until the call comes back, and a new connection to that device waits for it.

#include "core/serialsettings.h"
#include "rig/hamlibmodels.h"
#include "rig/queuedtuner.h"

#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

class HamlibTuner : public QueuedTuner {
    Q_OBJECT
public:
    // How often a rig that failed to open, or whose port failed, is opened again.
    static constexpr std::chrono::milliseconds kReopenInterval{2000};
    // How long Shutdown lets an idle worker close the rig before leaving it behind.
    static constexpr std::chrono::milliseconds kCloseWait{200};
    // How long a new connection waits for a worker left behind to let go of the same device
    // before it tells so (and tries again later).
    static constexpr std::chrono::milliseconds kLetGoWait{3000};

    // model: Hamlib's model number. serial: the port and speed as the settings hold them
    // ("COM2", "/dev/ttyUSB0"; "19200") and the CI-V address passed to Icom models as civaddr
    // (0 keeps the model's own default), taken as they are now.
    HamlibTuner(int model, SerialSettings serial, QObject* parent = nullptr);
    ~HamlibTuner() override;

    // Checks the model, port and speed and starts opening the rig on the worker; returns at
    // once. The outcome arrives as StateChanged (and Problem when it fails).
    Status Connect() override;
    void SetReplyBudget(std::chrono::milliseconds budget) override;
    void Shutdown() override;

protected:
    void StartSet(std::int32_t hz) override;
    void StartRead() override;
    QString NotConnectedMessage() const override;

private:
    struct Worker;

    // Runs job on the worker thread, after the jobs before it.
    void Post(std::function<void(Worker&)> job);
    void Open();
    void OnOpened(const QString& failure);
    void OnSetResult(int result, const QString& error, std::int32_t hz);
    void OnReadResult(int result, double hz);
    void ReopenLater(const QString& reason, const QString& message);
    QString ModelText() const;

    int model;
    SerialSettings serial;
    HamlibModel known;
    QString device;
    qint32 bitsPerSecond = 0;
    std::shared_ptr<Worker> worker;
    std::thread thread;
    QTimer reopenTimer;
    bool opening = false;
    bool shutDown = false;
};
