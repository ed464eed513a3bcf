#include "rig/hamlibtuner.h"

#include "core/portname.h"
#include "core/units.h"
#include "rig/rigchoice.h"

#include <hamlib/rig.h>

#include <QFileInfo>
#include <QMetaObject>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>

namespace {

// Hamlib's Icom driver repeats a set itself when the echo or answer is missing, whatever
// `retry` says: 3 to 9 exchanges per call were seen with Hamlib 4.5.4 on a silent line. Each
// exchange gets an eighth of the budget, so that a call to a silent radio mostly ends within it
// (bench_rig measures it).
constexpr int kExchangesPerCall = 8;
constexpr int kRetries = 0;
// Never less than a command and its answer take on the wire (up to 16 bytes each way, 10 bits
// a byte), plus the radio's own delay.
constexpr int kFrameBits = 2 * 16 * 10;
constexpr int kRadioDelayMs = 20;

// Hamlib's text for an error code, on one line. (rigerror in Hamlib 4.5 prepends the texts of
// every code below this one and saved debug lines; rigerror2 gives this code's alone.)
QString ErrorText(int result) {
    return QString::fromLocal8Bit(rigerror2(result)).trimmed();
}

bool SetConf(RIG* rig, const char* name, const QString& value) {
    const token_t token = rig_token_lookup(rig, name);
    return token != RIG_CONF_END &&
           rig_set_conf(rig, token, value.toLatin1().constData()) == RIG_OK;
}

QString TimeoutMs(std::chrono::milliseconds budget, qint32 bitsPerSecond) {
    const int wire =
        bitsPerSecond > 0 ? kFrameBits * int(units::kMillisecondsPerSecond) / bitsPerSecond : 0;
    return QString::number(
        std::max<qint64>(budget.count() / kExchangesPerCall, wire + kRadioDelayMs));
}

// The devices Hamlib workers hold a rig open on, for the whole process. A worker left behind
// inside a call keeps its device until the call comes back and it closes the rig; a new
// connection to the same device waits for that rather than opening the port twice.
struct PortHolds {
    std::mutex mutex;
    std::condition_variable released;
    std::set<QString> held;
};

PortHolds& Holds() {
    static PortHolds holds;
    return holds;
}

} // namespace

// Shared by the tuner and its thread, so that a thread left behind still has it.
struct HamlibTuner::Worker {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    std::deque<std::function<void(Worker&)>> jobs;
    bool stop = false;
    bool busy = false;
    bool finished = false;
    HamlibTuner* owner = nullptr; // null once the tuner let go
    RIG* rig = nullptr;           // the worker thread's alone
    QString holding;              // the device the rig is open on (PortHolds), the thread's alone

    // Takes the device for this worker's rig, once no other worker holds it; false when another
    // still does after `wait`.
    bool Hold(const QString& device, std::chrono::milliseconds wait) {
        PortHolds& holds = Holds();
        std::unique_lock<std::mutex> lock(holds.mutex);
        if (!holds.released.wait_for(lock, wait, [&]() { return !holds.held.contains(device); })) {
            return false;
        }
        holds.held.insert(device);
        holding = device;
        return true;
    }

    void Run() {
        for (;;) {
            std::function<void(Worker&)> job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this]() { return stop || !jobs.empty(); });
                if (stop) {
                    break;
                }
                job = std::move(jobs.front());
                jobs.pop_front();
                busy = true;
            }
            job(*this);
            const std::lock_guard<std::mutex> lock(mutex);
            busy = false;
        }
        CloseRig();
        const std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        ended.notify_all();
    }

    void CloseRig() {
        if (rig != nullptr) {
            rig_close(rig);
            rig_cleanup(rig);
            rig = nullptr;
        }
        if (!holding.isEmpty()) {
            PortHolds& holds = Holds();
            const std::lock_guard<std::mutex> lock(holds.mutex);
            holds.held.erase(holding);
            holding.clear();
            holds.released.notify_all();
        }
    }

    // Hands result to the tuner on its own thread, unless it is gone or shut down.
    void Deliver(std::function<void(HamlibTuner&)> result) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (owner != nullptr) {
            HamlibTuner* tuner = owner;
            QMetaObject::invokeMethod(
                tuner, [tuner, result = std::move(result)]() { result(*tuner); },
                Qt::QueuedConnection);
        }
    }
};

HamlibTuner::HamlibTuner(int modelNumber, SerialSettings settings, QObject* parent)
    : QueuedTuner(parent), model(modelNumber), serial(std::move(settings)) {
    Describe(QString::fromLatin1(rigconfig::kBackendHamlib),
             QStringLiteral("model %1 on %2").arg(model).arg(serial.comPort),
             QStringLiteral("model %1").arg(model));
    reopenTimer.setSingleShot(true);
    connect(&reopenTimer, &QTimer::timeout, this, &HamlibTuner::Open);
}

HamlibTuner::~HamlibTuner() {
    Shutdown();
}

QString HamlibTuner::ModelText() const {
    if (known.model.isEmpty()) {
        return QStringLiteral("Hamlib model %1").arg(model);
    }
    return QStringLiteral("the %1 %2 (Hamlib model %3)").arg(known.maker, known.model).arg(model);
}

Status HamlibTuner::Connect() {
    if (shutDown) {
        return Status::Error(QStringLiteral("Tavmirok is closing."), QStringLiteral("closing"));
    }
    Connecting();
    known = FindHamlibModel(model);
    Status status = Status::Ok();
    if (known.model.isEmpty()) {
        status = Status::Error(QStringLiteral("Hamlib does not know a model %1. Choose your radio "
                                              "in Configure > Rig Control.")
                                   .arg(model),
                               QStringLiteral("unknown model"));
    } else if (Status resolved = core::ResolvePortName(serial.comPort, &device); !resolved.IsOk()) {
        status = resolved;
    } else if (Status speed = core::ParseBaudRate(serial.baudRate, &bitsPerSecond); !speed.IsOk()) {
        status = speed;
    }
    if (!status.IsOk()) {
        Offline(status.Reason(), status.Message(), Trouble::Always, false);
        return status;
    }
    Describe(QString::fromLatin1(rigconfig::kBackendHamlib),
             QStringLiteral("%1 on %2").arg(known.model, device),
             QStringLiteral("model %1").arg(model));
    if (!worker) {
        worker = std::make_shared<Worker>();
        worker->owner = this;
        thread = std::thread([shared = worker]() { shared->Run(); });
    }
    Open();
    return Status::Ok();
}

void HamlibTuner::Post(std::function<void(Worker&)> job) {
    if (!worker) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(worker->mutex);
        worker->jobs.push_back(std::move(job));
    }
    worker->wake.notify_one();
}

void HamlibTuner::Open() {
    if (shutDown || opening || IsConnected()) {
        return;
    }
    opening = true;
    const int number = model;
    const QString path = device;
    const QString speed = QString::number(bitsPerSecond);
    const QString timeout = TimeoutMs(ReplyBudget(), bitsPerSecond);
    const bool icom = RIG_BACKEND_NUM(model) == RIG_ICOM && serial.radioAdress != 0;
    const QString civAddress =
        QStringLiteral("0x") + QString::number(serial.radioAdress, units::kHexBase);
    Post([=](Worker& w) {
        w.CloseRig();
        if (!w.Hold(path, kLetGoWait)) {
            w.Deliver([path](HamlibTuner& t) {
                t.OnOpened(QStringLiteral("the last connection to %1 has not let go of it yet (a "
                                          "Hamlib call that did not come back). If this stays, "
                                          "unplug the radio's cable or restart Tavmirok")
                               .arg(path));
            });
            return;
        }
        {
            const auto lock = HamlibLock();
            w.rig = rig_init(static_cast<rig_model_t>(number));
        }
        if (w.rig == nullptr) {
            w.Deliver([](HamlibTuner& t) {
                t.OnOpened(QStringLiteral("Hamlib could not set up this model"));
            });
            return;
        }
        SetConf(w.rig, "rig_pathname", path);
        SetConf(w.rig, "serial_speed", speed);
        SetConf(w.rig, "timeout", timeout);
        SetConf(w.rig, "retry", QString::number(kRetries));
        if (icom) {
            SetConf(w.rig, "civaddr", civAddress);
        }
        const int result = rig_open(w.rig);
        QString failure;
        if (result != RIG_OK) {
            failure = ErrorText(result);
            rig_cleanup(w.rig);
            w.rig = nullptr;
            w.CloseRig(); // lets go of the device
        }
        w.Deliver([failure](HamlibTuner& t) { t.OnOpened(failure); });
    });
}

void HamlibTuner::OnOpened(const QString& failure) {
    opening = false;
    if (shutDown) {
        return;
    }
    if (!failure.isEmpty()) {
        // Hamlib says only "IO error" for a device that is not there.
        const QString reason = QFileInfo::exists(device)
                                   ? failure
                                   : QStringLiteral("there is no such device (%1)").arg(failure);
        ReopenLater(reason,
                    QStringLiteral("Hamlib could not open %1 on %2 at %3 bit/s: %4. Check that "
                                   "the model is your radio's, that the port and speed are the "
                                   "radio's (Configure > Serial Port), that no other program "
                                   "holds the port, and that the radio is on%5. Tavmirok tries "
                                   "again every 2 s.")
                        .arg(ModelText(), device)
                        .arg(bitsPerSecond)
                        .arg(reason, RIG_BACKEND_NUM(model) == RIG_ICOM
                                         ? QStringLiteral(" and its CI-V address is the one in "
                                                          "Configure > Radioaddress (0 uses the "
                                                          "model's default)")
                                         : QString()));
        return;
    }
    Online();
}

void HamlibTuner::ReopenLater(const QString& reason, const QString& message) {
    Offline(reason, message, Trouble::Unreachable);
    reopenTimer.start(kReopenInterval);
}

void HamlibTuner::SetReplyBudget(std::chrono::milliseconds budget) {
    QueuedTuner::SetReplyBudget(budget);
    const QString timeout = TimeoutMs(ReplyBudget(), bitsPerSecond);
    Post([timeout](Worker& w) {
        if (w.rig != nullptr) {
            SetConf(w.rig, "timeout", timeout);
        }
    });
}

QString HamlibTuner::NotConnectedMessage() const {
    return QStringLiteral("%1 is not open, so the radio cannot be tuned (%2). Tavmirok tries "
                          "again every 2 s.")
        .arg(ModelText(), ProblemReason().isEmpty() ? QStringLiteral("opening") : ProblemReason());
}

void HamlibTuner::StartSet(std::int32_t hz) {
    Post([hz](Worker& w) {
        const int result = w.rig != nullptr ? rig_set_freq(w.rig, RIG_VFO_CURR, hz) : -RIG_EIO;
        const QString error = result == RIG_OK ? QString() : ErrorText(result);
        w.Deliver([result, error, hz](HamlibTuner& t) { t.OnSetResult(result, error, hz); });
    });
}

void HamlibTuner::StartRead() {
    Post([](Worker& w) {
        freq_t hz = 0;
        const int result = w.rig != nullptr ? rig_get_freq(w.rig, RIG_VFO_CURR, &hz) : -RIG_EIO;
        w.Deliver([result, hz](HamlibTuner& t) { t.OnReadResult(result, hz); });
    });
}

void HamlibTuner::OnSetResult(int result, const QString& error, std::int32_t hz) {
    if (shutDown) {
        return;
    }
    // Icom models report a missing echo as a bus error: no answer either way.
    const bool answering = result != -RIG_ETIMEOUT && result != -RIG_BUSERROR;
    const bool refusing = result == -RIG_ERJCTED;
    if (result == RIG_OK) {
        SetAnswered(false);
        TroubleEnded(Trouble::Failing);
        SetDone(Status::Ok());
        return;
    }
    QString message = QStringLiteral("Hamlib could not tune %1 to %2: %3.")
                          .arg(ModelText(), core::MegahertzText(hz), error);
    if (refusing) {
        message += QStringLiteral(" The radio refused it and may not be following the sweep; ") +
                   TuneAdvice();
        SetAnswered(true, message);
    } else if (!answering) {
        ReplyMissing();
        message += QStringLiteral(" The radio did not answer within %1 ms: check the cable, the "
                                  "speed and the radio's address.")
                       .arg(ReplyBudget().count());
        TellOnce(Trouble::Silent, message);
    } else if (result == -RIG_EIO) {
        SetAnswered(false);
        // The port itself failed (the interface went away): the rig is opened afresh.
        message += QStringLiteral(" The serial port %1 went away or failed; Tavmirok opens it "
                                  "again every 2 s.")
                       .arg(device);
        Post([](Worker& w) { w.CloseRig(); });
        ReopenLater(error, message);
    } else {
        SetAnswered(false);
        TellOnce(Trouble::Failing, message);
    }
    SetDone(Status::Error(message, error));
}

void HamlibTuner::OnReadResult(int result, double hz) {
    if (shutDown) {
        return;
    }
    ReadDone(result == RIG_OK && hz >= 0 ? std::optional<double>(hz) : std::nullopt);
}

void HamlibTuner::Shutdown() {
    if (shutDown) {
        return;
    }
    shutDown = true;
    reopenTimer.stop();
    if (worker) {
        std::unique_lock<std::mutex> lock(worker->mutex);
        worker->stop = true;
        worker->jobs.clear();
        worker->owner = nullptr;
        const bool idle = !worker->busy;
        worker->wake.notify_all();
        // An idle worker closes the rig at once; one inside a call may never come back.
        const bool closed =
            idle && worker->ended.wait_for(lock, kCloseWait, [this]() { return worker->finished; });
        lock.unlock();
        if (closed) {
            thread.join();
        } else {
            thread.detach();
        }
    }
    StopQueue(Status::Closing());
}
