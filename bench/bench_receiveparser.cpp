// Receive parser throughput: how many megabytes of CI-V bus traffic per second the byte-fed state
// machine takes in, display formatting included, over two kinds of real traffic: Hamlib's
// recorded session with an IC-7300 (tests/data) and the bus traffic of a whole sweep as the
// program sees it (the echo of each set-frequency frame followed by the radio's OK).

#include "benchrow.h"
#include "link/civ.h"
#include "link/receiveparser.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace {

constexpr std::uint8_t kCapturedRadioAddress = 0x94;
constexpr std::uint8_t kSimulatedRadioAddress = 0x4E;
constexpr std::int32_t kSweepLowHz = 2000000;
constexpr std::int32_t kSweepHighHz = 30000000;
constexpr std::int32_t kSweepStepHz = 100000;

// The corpus is repeated up to this size so that one pass takes tens of milliseconds.
constexpr qsizetype kCorpusBytes = 4 * 1024 * 1024;
// A serial read hands the parser what has arrived; 4 KiB is a generous read.
constexpr qsizetype kReadBytes = 4096;
constexpr int kRuns = 7;
constexpr double kBytesPerMegabyte = 1e6;

// The bytes of a one-frame-per-line capture: hex pairs before any '#'; '#' lines are comments.
QByteArray LoadCapture(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QByteArray bytes;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        line = line.left(line.indexOf(QLatin1Char('#')));
        bytes += QByteArray::fromHex(line.remove(QLatin1Char(' ')).trimmed().toLatin1());
    }
    return bytes;
}

// One sweep as it crosses the bus: 2.0 to 30.0 MHz, each set-frequency frame echoed and answered.
QByteArray BuildSweepTraffic() {
    QByteArray bytes;
    const QByteArray ok = QByteArray::fromHex("FEFE4D4EFBFD");
    for (std::int32_t hz = kSweepLowHz; hz <= kSweepHighHz; hz += kSweepStepHz) {
        std::array<std::uint8_t, civ::kFrequencyBytes> bcd{};
        civ::FreqToBcd(hz, bcd);
        QByteArray frame;
        civ::BuildFrame(kSimulatedRadioAddress, civ::kCmdSetFrequency, civ::kNoSubCommand,
                        QByteArrayView(reinterpret_cast<const char*>(bcd.data()), bcd.size()),
                        &frame);
        bytes += frame;
        bytes += ok;
    }
    return bytes;
}

QByteArray Repeat(const QByteArray& unit, qsizetype size) {
    QByteArray bytes;
    bytes.reserve(size + unit.size());
    while (bytes.size() < size) {
        bytes += unit;
    }
    return bytes;
}

struct Result {
    double megabytesPerSecond = 0;
    long long displayWrites = 0;
    long long replies = 0;
    long long displayCharacters = 0; // consumed so the formatting is not optimised away
};

Result Measure(const QByteArray& corpus, int radioAdress) {
    long long displayWrites = 0;
    long long replies = 0;
    long long displayCharacters = 0;
    std::vector<double> rates;
    for (int run = 0; run < kRuns; ++run) {
        displayWrites = 0;
        replies = 0;
        displayCharacters = 0;
        ReceiveParser parser(
            [&](const QString& text) {
                ++displayWrites;
                displayCharacters += text.size();
            },
            [&] { ++replies; });
        QElapsedTimer timer;
        timer.start();
        for (qsizetype at = 0; at < corpus.size(); at += kReadBytes) {
            parser.ProcessBytes(
                QByteArrayView(corpus).sliced(at, std::min(kReadBytes, corpus.size() - at)),
                radioAdress);
        }
        const double seconds = timer.nsecsElapsed() / 1e9;
        rates.push_back(corpus.size() / kBytesPerMegabyte / seconds);
    }
    return {bench::Median(rates), displayWrites, replies, displayCharacters};
}

void Report(const QString& name, const QByteArray& unit, int radioAdress) {
    const QByteArray corpus = Repeat(unit, kCorpusBytes);
    const Result result = Measure(corpus, radioAdress);
    bench::Note(QStringLiteral("%1: %2 bytes per pass, %3 display writes (%4 characters), %5 "
                               "replies flagged")
                    .arg(name)
                    .arg(corpus.size())
                    .arg(result.displayWrites)
                    .arg(result.displayCharacters)
                    .arg(result.replies));
    bench::PrintRow(QStringLiteral("Receive parser, %1").arg(name),
                    QStringLiteral("%1 MB/s").arg(result.megabytesPerSecond, 0, 'f', 1),
                    QStringLiteral("median of %1 passes over %2 MB in %3-byte reads, display "
                                   "text formatted")
                        .arg(kRuns)
                        .arg(corpus.size() / kBytesPerMegabyte, 0, 'f', 1)
                        .arg(kReadBytes));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString capturePath =
        QStringLiteral(TAVMIROK_TEST_DATA) + QStringLiteral("/hamlib-4.5.4-ic7300-bus.txt");
    const QByteArray capture = LoadCapture(capturePath);
    if (capture.isEmpty()) {
        bench::Note(QStringLiteral("cannot read the capture %1").arg(capturePath));
        return 1;
    }
    Report(QStringLiteral("Hamlib IC-7300 capture"), capture, kCapturedRadioAddress);
    Report(QStringLiteral("sweep traffic (echo + OK)"), BuildSweepTraffic(),
           kSimulatedRadioAddress);
    return 0;
}
