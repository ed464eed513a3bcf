#include "audiowriter.h"

#include "simulation/realisticsky.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr double kPerMillion = 1e-6;
constexpr double kFullScale = 32767;

ionogram::SimulatedIonosphere::Settings Sky(const AudioOptions& options) {
    ionogram::SimulatedIonosphere::Settings sky;
    sky.sampleRate = AudioWriter::kSampleRate;
    sky.profile = options.profile;
    sky.chirpTime = options.chirpTime;
    sky.noiseRms = options.noiseRms;
    sky.modes = options.modes;
    sky.layers = options.layers;
    sky.otherSounders = options.sounders;
    sky.interferers = options.carriers;
    sky.seed = std::uint32_t(std::time(nullptr));
    if (options.longPathSky) {
        sky.sky = std::make_shared<ionogram::RealisticSky>(ionogram::PresetSky(options.noiseRms));
    }
    return sky;
}

} // namespace

double EpochNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

AudioWriter::AudioWriter(const AudioOptions& audioOptions)
    : options(audioOptions), ionosphere(Sky(options)), path(options.path) {}

AudioWriter::~AudioWriter() {
    if (fd >= 0) {
        ::close(fd);
    }
}

std::string AudioWriter::Open() {
    struct stat info {};
    fifo = ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
    if (!fifo) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            return "cannot write the audio to " + path + ": " + std::strerror(errno);
        }
    }
    interval = 1 / (kSampleRate * (1 + options.ppm * kPerMillion));
    start = EpochNow();
    return {};
}

double AudioWriter::NextDue() const {
    return start + double(written + kBlockSamples - 1) * interval;
}

void AudioWriter::Tune(double at, double dialKhz) {
    const std::lock_guard<std::mutex> lock(dialMutex);
    if (dial.empty() || dial.back().second != dialKhz) {
        dial.emplace_back(at, dialKhz);
    }
}

void AudioWriter::Generate(std::int64_t first, std::vector<float>& block) {
    std::deque<std::pair<double, double>> moves;
    {
        const std::lock_guard<std::mutex> lock(dialMutex);
        // Moves before this block matter only for the dial it starts on.
        const double from = start + double(first) * interval;
        while (dial.size() > 1 && dial[1].first <= from) {
            dial.pop_front();
        }
        moves = dial;
    }
    const double advance = advanceSeconds.load();
    std::size_t done = 0;
    for (std::size_t m = 0; m < moves.size() && done < block.size(); ++m) {
        // This dial holds until the next move's sample.
        std::size_t until = block.size();
        if (m + 1 < moves.size()) {
            const double at = (moves[m + 1].first - start) / interval - double(first);
            until = std::size_t(std::clamp(std::ceil(at), double(done), double(block.size())));
        }
        if (until > done) {
            ionosphere.Generate(moves[m].second,
                                start + double(first + std::int64_t(done)) * interval + advance,
                                interval, std::span<float>(block).subspan(done, until - done));
            done = until;
        }
    }
    std::fill(block.begin() + std::ptrdiff_t(done), block.end(), 0.0F); // no dial yet: silence
}

void AudioWriter::WriteDue(double now) {
    std::vector<float> block(kBlockSamples);
    std::vector<std::uint8_t> bytes(kBlockSamples * 2);
    if (modesWanted.load() != modesHeard) {
        modesHeard = !modesHeard;
        ionosphere.SetModes(modesHeard ? options.modes : std::vector<ionogram::PropagationMode>{});
    }
    while (NextDue() <= now) {
        Generate(written, block);
        written += kBlockSamples;
        for (int i = 0; i < kBlockSamples; ++i) {
            const auto sample = std::int16_t(
                std::lround(std::clamp(block[i] * kFullScale, -kFullScale, kFullScale)));
            bytes[2 * i] = std::uint8_t(sample & 0xFF); // little-endian
            bytes[2 * i + 1] = std::uint8_t((sample >> 8) & 0xFF);
        }
        Deliver(bytes);
    }
}

void AudioWriter::Deliver(const std::vector<std::uint8_t>& bytes) {
    if (fifo && fd < 0) {
        // Nobody reads yet (ENXIO): the block is lost, as on a card nobody records from.
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        return;
    }
    backlog.insert(backlog.end(), bytes.begin(), bytes.end());
    const auto most = std::size_t(kMostBacklogSeconds * kSampleRate) * 2;
    if (backlog.size() > most) {
        const std::size_t over = backlog.size() - most;
        const std::size_t blockBytes = bytes.size();
        const std::size_t lost = (over + blockBytes - 1) / blockBytes * blockBytes;
        backlog.erase(backlog.begin(), backlog.begin() + std::ptrdiff_t(lost));
        if (!overrunning) { // said once per overrun, not for every block it costs
            std::fprintf(stderr,
                         "tavmirok-radiosim: the audio reader is %g s behind; audio is dropped "
                         "until it catches up (an overrun: a click in the audio)\n",
                         kMostBacklogSeconds);
        }
        overrunning = true;
    } else {
        overrunning = false;
    }
    std::size_t sent = 0;
    while (sent < backlog.size()) {
        const ssize_t n = ::write(fd, backlog.data() + sent, backlog.size() - sent);
        if (n <= 0) {
            if (n < 0 && errno == EPIPE && fifo) { // the reader went away: wait for the next one
                ::close(fd);
                fd = -1;
                backlog.clear();
                return;
            }
            break; // full (EAGAIN): the rest waits for the next block
        }
        sent += std::size_t(n);
    }
    backlog.erase(backlog.begin(), backlog.begin() + std::ptrdiff_t(sent));
}
