// The web face on loopback: how long a page load takes (the page, its script and style, and the
// first data: status, sounders and a whole sweep's cells), how long a column takes from the
// station to 20 live streams, what those 20 streams cost the server's thread, and whether memory
// stays flat while clients connect, stall and go away. The server runs in a thread of its own,
// fed by queued calls as the station's feed feeds it; the clients read in the main thread.

#include "benchrow.h"
#include "testkit/httpclient.h"
#include "web/webface.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QThread>
#include <ctime>
#include <memory>

namespace {

constexpr int kLoads = 40;
constexpr int kStreams = 20;
constexpr int kColumns = 200;
constexpr int kColumnGapMs = 50;
constexpr int kDelayCells = 401; // 0 to 20 ms every 0.05 ms
constexpr int kSweepSteps = 280; // 2 to 30 MHz every 100 kHz
constexpr double kSweepSeconds = 280;
constexpr int kChurnCycles = 1000;
constexpr int kChurnColumns = 12; // offered to each stalled client before it goes
constexpr int kTimeoutMs = 10000;

std::vector<float> NoiseColumn(QRandomGenerator& random) {
    std::vector<float> cells(kDelayCells);
    for (float& cell : cells) {
        cell = static_cast<float>(random.bounded(60.0) - 10);
    }
    return cells;
}

// A station whose sounder's sweep is whole: what the first data of a page load carries.
feed::Snapshot WholeSweep() {
    QRandomGenerator random(7);
    feed::Snapshot s;
    s.activity = feed::Activity::Waiting;
    s.archiveFolder = QDir::tempPath();
    s.followed.push_back({"Cyprus", 100, 300, 78, std::nullopt});
    auto sweep = std::make_shared<ionogram::IonogramSweep>();
    sweep->sounder = "Cyprus";
    sweep->startUtc = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < kSweepSteps; ++i) {
        sweep->frequenciesKhz.push_back(2000 + 100 * i);
        sweep->snrDb.push_back(NoiseColumn(random));
    }
    s.ionograms.push_back(sweep);
    return s;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double ResidentMiB() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly)) {
        return std::nan("");
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096 / (1024 * 1024) : std::nan("");
}

// The web face in its own thread; Run does work there and waits for it.
class Server {
public:
    Server() {
        thread.start();
        anchor.moveToThread(&thread);
        const feed::Snapshot snapshot = WholeSweep();
        Run([this, snapshot] {
            face = std::make_unique<web::WebFace>([snapshot] { return snapshot; }, web::Commands{});
            face->Listen(QHostAddress(QHostAddress::LocalHost), 0);
        });
    }
    ~Server() {
        Run([this] { face.reset(); });
        thread.quit();
        thread.wait();
    }
    template <typename F> void Run(F work) {
        QMetaObject::invokeMethod(&anchor, work, Qt::BlockingQueuedConnection);
    }
    // Queued, as the feed's signals reach a face in another thread.
    void Column(const feed::Column& column) {
        QMetaObject::invokeMethod(&anchor, [this, column] { face->OnColumnAdded(column); });
    }
    double CpuSeconds() {
        double seconds = 0;
        Run([&seconds] { seconds = ThreadCpuSeconds(); });
        return seconds;
    }
    quint16 Port() {
        quint16 port = 0;
        Run([this, &port] { port = face->Front().Port(); });
        return port;
    }
    int Streams() {
        int streams = 0;
        Run([this, &streams] { streams = face->Front().Streams(); });
        return streams;
    }

private:
    QThread thread;
    QObject anchor;
    std::unique_ptr<web::WebFace> face;
};

void PageLoad(Server& server) {
    const QList<QByteArray> targets = {"/",           "/app.js",       "/style.css",
                                       "/api/status", "/api/sounders", "/api/ionogram/latest"};
    std::vector<double> loads;
    qint64 bytes = 0;
    for (int i = 0; i < kLoads; ++i) {
        QElapsedTimer clock;
        clock.start();
        bytes = 0;
        for (const QByteArray& target : targets) {
            const auto reply =
                testkit::Exchange(server.Port(), testkit::RequestText("GET", target), kTimeoutMs);
            bytes += reply.body.size();
        }
        loads.push_back(clock.nsecsElapsed() / 1e6);
    }
    bench::PrintRow("Web page load on loopback",
                    QString("median %1 ms, 95th percentile %2 ms (%3 kB)")
                        .arg(bench::Median(loads), 0, 'f', 1)
                        .arg(bench::Percentile(loads, 0.95), 0, 'f', 1)
                        .arg(bytes / 1000),
                    QString("%1 loads of the page, app.js, style.css, /api/status, /api/sounders "
                            "and /api/ionogram/latest with a whole sweep (%2 steps x %3 cells), "
                            "one after another, each on its own connection; goal at most 50 ms")
                        .arg(kLoads)
                        .arg(kSweepSteps)
                        .arg(kDelayCells));
}

void Streams(Server& server) {
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    std::vector<QByteArray> received(kStreams);
    std::vector<int> columnsSeen(kStreams, 0);
    std::vector<qint64> sentAt(kColumns, 0);
    std::vector<double> latencies;
    QElapsedTimer clock;
    clock.start();
    for (int c = 0; c < kStreams; ++c) {
        clients.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket* socket = clients.back().get();
        QObject::connect(socket, &QTcpSocket::readyRead, [&, socket, c] {
            received[c] += socket->readAll();
            qsizetype at = 0;
            while ((at = received[c].indexOf("event: column\n")) >= 0) {
                const qsizetype end = received[c].indexOf("\n\n", at);
                if (end < 0) {
                    break;
                }
                received[c].remove(0, end + 2);
                if (columnsSeen[c] < kColumns) {
                    latencies.push_back((clock.nsecsElapsed() - sentAt[columnsSeen[c]]) / 1e6);
                }
                ++columnsSeen[c];
            }
        });
        socket->connectToHost(QHostAddress(QHostAddress::LocalHost), server.Port());
        socket->write("GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    QElapsedTimer waited;
    waited.start();
    while (server.Streams() < kStreams && waited.elapsed() < kTimeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QRandomGenerator random(11);
    const double cpu0 = server.CpuSeconds();
    for (int i = 0; i < kColumns; ++i) {
        sentAt[i] = clock.nsecsElapsed();
        server.Column(
            {"Cyprus", QDateTime::currentDateTimeUtc(), i, 2000.0 + 100 * i, NoiseColumn(random)});
        QElapsedTimer gap;
        gap.start();
        while (gap.elapsed() < kColumnGapMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    waited.restart();
    while (*std::min_element(columnsSeen.begin(), columnsSeen.end()) < kColumns &&
           waited.elapsed() < kTimeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const double cpu = server.CpuSeconds() - cpu0;
    bench::PrintRow("Column to 20 live streams",
                    QString("median %1 ms, max %2 ms (%3 of %4 deliveries)")
                        .arg(bench::Median(latencies), 0, 'f', 2)
                        .arg(*std::max_element(latencies.begin(), latencies.end()), 0, 'f', 2)
                        .arg(latencies.size())
                        .arg(kStreams * kColumns),
                    QString("%1 columns of %2 cells, one every %3 ms, queued to the web face's "
                            "thread as the feed does; from the queued call to each client having "
                            "the whole event; goal at most 100 ms")
                        .arg(kColumns)
                        .arg(kDelayCells)
                        .arg(kColumnGapMs));
    bench::PrintRow("Web thread CPU with 20 streams",
                    QString("%1 % of one core for a real sweep (%2 ms per column)")
                        .arg(cpu * kSweepSteps / kColumns / kSweepSeconds * 100, 0, 'f', 2)
                        .arg(cpu / kColumns * 1000, 0, 'f', 3),
                    QString("CLOCK_THREAD_CPUTIME_ID of the server's thread over %1 columns to "
                            "20 streams, scaled to a sweep of %2 columns in %3 s; goal at most 1 %")
                        .arg(kColumns)
                        .arg(kSweepSteps)
                        .arg(kSweepSeconds));
}

void Churn(Server& server) {
    QRandomGenerator random(13);
    const feed::Column column{"Cyprus", QDateTime::currentDateTimeUtc(), 0, 2000,
                              std::vector<float>(4000, 12.5f)};
    std::vector<double> rss;
    for (int cycle = 1; cycle <= kChurnCycles; ++cycle) {
        QTcpSocket stalled;
        stalled.setReadBufferSize(1);
        stalled.connectToHost(QHostAddress(QHostAddress::LocalHost), server.Port());
        stalled.write("GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n");
        QElapsedTimer waited;
        waited.start();
        while (server.Streams() < 1 && waited.elapsed() < kTimeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        for (int i = 0; i < kChurnColumns; ++i) {
            server.Column(column);
        }
        server.Run([] {}); // the columns are through
        stalled.abort();
        if (cycle == kChurnCycles / 10 || cycle == kChurnCycles) {
            rss.push_back(ResidentMiB());
        }
    }
    bench::PrintRow("Memory with clients that stall and go",
                    QString("%1 MiB after %2 clients, %3 MiB after %4")
                        .arg(rss.front(), 0, 'f', 1)
                        .arg(kChurnCycles / 10)
                        .arg(rss.back(), 0, 'f', 1)
                        .arg(kChurnCycles),
                    QString("resident size of the process; each client opens the stream, reads "
                            "nothing while %1 columns of 20 kB are offered, and goes")
                        .arg(kChurnColumns));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Server server;
    PageLoad(server);
    Streams(server);
    Churn(server);
    return 0;
}
