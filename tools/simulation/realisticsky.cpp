#include "simulation/realisticsky.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ionogram {

namespace {

constexpr double kWeakRunKhz = 500;    // fading runs this many columns of 100 kHz
constexpr double kWeakRunShare = 0.25; // -12 dB
constexpr double kFlatRiseMs = 0.05;   // a flat trace rises this little up to its top
constexpr int kPaths = 3;              // a thick trace's paths, spread evenly
constexpr double kPathShares[kPaths] = {0.75, 0.55, 0.4};
constexpr double kFloodedHalfWidthKhz = 1; // a flooded column is heard this near its dial
constexpr double kKeyElementSeconds = 0.3; // about one switch within a column
constexpr double kKeyEdgeSeconds = 0.004;
constexpr double kSyllableHz = 3.7; // programme audio's envelope
constexpr double kPhraseHz = 0.6;
constexpr double kDepth = 0.8;
constexpr double kCarrierOverProgrammeDb = 6; // a broadcaster's carrier heard beside it
constexpr double kBlanketDb = 60;
constexpr double kHopFcShare = 0.04; // see DrawRealisticSky
constexpr double kHopPeakKm = 15;
constexpr std::uint64_t kHopDraws = 100;
constexpr std::size_t kMostTracedDials = 50000; // curves kept (about 10 MB)

// A number in [0, 1) fixed by its arguments: the same column fades the same whenever heard.
double Unit(std::uint32_t seed, std::uint64_t a, std::int64_t b) {
    std::uint64_t x = (a + 1) * 0x9E3779B97F4A7C15ULL ^ std::uint64_t(b) * 0xC2B2AE3D27D4EB4FULL ^
                      (std::uint64_t(seed) << 17);
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return double(x >> 11) / double(1ULL << 53);
}

IonosphericLayer WithMof(IonosphericLayer layer, double mofKhz) {
    const double mof = LayerMofKhz(layer);
    if (mof > 0) {
        layer.criticalKhz *= mofKhz / mof;
    }
    return layer;
}

} // namespace

double Amplitude(double noiseRms, double levelDb, double gainDb) {
    return noiseRms * std::sqrt(2 * std::pow(10.0, (levelDb - gainDb) / 10));
}

std::vector<BroadcastBand> BroadcastBands(double levelDb) {
    return {{5900, 6200, levelDb},   {7200, 7450, levelDb},   {9400, 9900, levelDb},
            {11600, 12100, levelDb}, {13570, 13870, levelDb}, {15100, 15800, levelDb},
            {17480, 17900, levelDb}, {21450, 21850, levelDb}, {25670, 26100, levelDb}};
}

RealisticSky::RealisticSky(RealisticSkySettings config) : settings(std::move(config)) {
    for (const SkyMode& mode : settings.modes) {
        layerMofKhz.push_back(LayerMofKhz(mode.layer));
        xLayers.push_back(WithMof(mode.layer, layerMofKhz.back() + mode.xSplitKhz));
    }
}

bool RealisticSky::Transmitting(double dialKhz) const {
    return dialKhz >= settings.sweptFromKhz && dialKhz <= settings.sweptToKhz &&
           !(dialKhz >= settings.silentFromKhz && dialKhz < settings.silentToKhz);
}

bool RealisticSky::Flooded(double dialKhz) const {
    for (const BroadcastBand& band : settings.broadcast) {
        if (dialKhz >= band.fromKhz && dialKhz <= band.toKhz) {
            return true;
        }
    }
    return std::any_of(settings.floodedKhz.begin(), settings.floodedKhz.end(),
                       [&](double khz) { return std::abs(khz - dialKhz) <= kFloodedHalfWidthKhz; });
}

double RealisticSky::MofKhz(int mode) const {
    const SkyMode& m = settings.modes[mode];
    if (m.flat) {
        return m.topKhz;
    }
    return layerMofKhz[mode] + m.xSplitKhz;
}

double RealisticSky::OMofKhz(int mode) const {
    const SkyMode& m = settings.modes[mode];
    return m.flat || m.xSplitKhz <= 0 ? 0 : layerMofKhz[mode];
}

double RealisticSky::Fading(int mode, double dialKhz) const {
    const SkyMode& m = settings.modes[mode];
    if (Unit(settings.seed, 2 * mode, std::llround(dialKhz)) < m.missingShare) {
        return 0;
    }
    const double offset = kWeakRunKhz * Unit(settings.seed, 2 * mode + 1, -1);
    const auto run = std::int64_t(std::floor((dialKhz + offset) / kWeakRunKhz));
    double fading = Unit(settings.seed, 2 * mode + 1, run) < m.weakRunShare ? kWeakRunShare : 1;
    if (!m.flat) {
        for (const SkyMode& other : settings.modes) {
            if (other.flat && dialKhz < other.topKhz) {
                fading *= std::pow(10.0, -other.blanketDb / 20);
            }
        }
    }
    return fading;
}

std::vector<LayerRay> RealisticSky::ModeCurves(int mode, double dialKhz) const {
    const std::pair<int, long long> key{mode, std::llround(dialKhz * 1000)};
    {
        const std::lock_guard<std::mutex> lock(traced->guard);
        const auto known = traced->curves.find(key);
        if (known != traced->curves.end()) {
            return known->second;
        }
    }
    std::vector<LayerRay> curves = TracedCurves(mode, dialKhz);
    const std::lock_guard<std::mutex> lock(traced->guard);
    if (traced->curves.size() >= kMostTracedDials) { // a radio tuned anywhere for days
        traced->curves.clear();
    }
    traced->curves.emplace(key, curves);
    return curves;
}

std::vector<LayerRay> RealisticSky::TracedCurves(int mode, double dialKhz) const {
    const SkyMode& m = settings.modes[mode];
    if (m.flat) {
        if (dialKhz > m.topKhz) {
            return {};
        }
        const double rise = kFlatRiseMs * std::pow(dialKhz / m.topKhz, 4);
        return {{LayerLeastDelayMs(m.layer) + rise, m.layer.amplitude, false}};
    }
    for (const SkyMode& other : settings.modes) {
        if (other.flat && dialKhz < other.topKhz && other.blanketDb >= kBlanketDb) {
            return {}; // hidden whole under sporadic E
        }
    }
    std::vector<LayerRay> rays = LayerRays(m.layer, dialKhz);
    if (m.xSplitKhz > 0) {
        for (LayerRay ray : LayerRays(xLayers[mode], dialKhz)) {
            ray.amplitude *= m.xShare;
            rays.push_back(ray);
        }
    }
    return rays;
}

std::vector<LayerRay> RealisticSky::ModeRays(int mode, double dialKhz) const {
    if (!Transmitting(dialKhz)) {
        return {};
    }
    const SkyMode& m = settings.modes[mode];
    const double fading = Fading(mode, dialKhz);
    if (fading <= 0) {
        return {};
    }
    std::vector<LayerRay> curves = ModeCurves(mode, dialKhz);
    std::vector<LayerRay> rays;
    for (std::size_t i = 0; i < curves.size(); ++i) {
        LayerRay ray = curves[i];
        ray.amplitude *= fading;
        if (ray.high && i > 0 && m.highFadeMs > 0) { // above its own low ray, just before it
            ray.amplitude *= std::exp(-(ray.delayMs - curves[i - 1].delayMs) / m.highFadeMs);
        }
        for (int p = 0; p < kPaths; ++p) {
            const double at = m.spreadMs * p / (kPaths - 1);
            rays.push_back({ray.delayMs + at, ray.amplitude * kPathShares[p], ray.high});
        }
    }
    return rays;
}

std::vector<LayerRay> RealisticSky::Rays(double dialKhz) const {
    std::vector<LayerRay> rays;
    for (int mode = 0; mode < int(settings.modes.size()); ++mode) {
        const std::vector<LayerRay> more = ModeRays(mode, dialKhz);
        rays.insert(rays.end(), more.begin(), more.end());
    }
    return rays;
}

void RealisticSky::AddAudio(double dialKhz, double firstSampleTime, double sampleInterval,
                            double whiteRms, std::span<double> x) const {
    // The noise in the passband is whiteRms over this.
    const double passRatio = std::sqrt(1 / sampleInterval / 2 / (kPassHighHz - kPassLowHz));
    const double passRms = whiteRms / passRatio;
    const auto dial = std::llround(dialKhz);
    for (const BroadcastBand& band : settings.broadcast) {
        if (dialKhz < band.fromKhz || dialKhz > band.toKhz) {
            continue;
        }
        // Programme audio: noise whose loudness follows syllables and phrases, and the
        // broadcaster's carrier as a steady tone.
        std::mt19937 random(std::uint32_t(settings.seed ^ dial ^
                                          std::uint64_t(std::llround(firstSampleTime * 1e3))));
        std::normal_distribution<double> gauss;
        const double rms = whiteRms * std::pow(10.0, band.levelDb / 20);
        const double phase = 2 * std::numbers::pi * Unit(settings.seed, 7, dial);
        const double hz = kPassLowHz + (kPassHighHz - kPassLowHz) * Unit(settings.seed, 8, dial);
        const double carrier = std::sqrt(2.0) * passRms *
                               std::pow(10.0, (band.levelDb + kCarrierOverProgrammeDb) / 20);
        for (std::size_t k = 0; k < x.size(); ++k) {
            const double t = firstSampleTime + double(k) * sampleInterval;
            const double envelope =
                1 + kDepth * std::sin(2 * std::numbers::pi * kSyllableHz * t + phase) *
                        std::sin(2 * std::numbers::pi * kPhraseHz * t);
            x[k] +=
                rms * envelope * gauss(random) + carrier * std::cos(2 * std::numbers::pi * hz * t);
        }
        break;
    }
    for (double khz : settings.floodedKhz) {
        if (std::abs(khz - dialKhz) > kFloodedHalfWidthKhz) {
            continue;
        }
        // A carrier keyed on and off at random, mostly switched once within a column.
        const double amplitude = std::sqrt(2.0) * passRms * std::pow(10.0, settings.floodedDb / 20);
        const double hz = kPassLowHz + (kPassHighHz - kPassLowHz) * Unit(settings.seed, 9, dial);
        for (std::size_t k = 0; k < x.size(); ++k) {
            const double t = firstSampleTime + double(k) * sampleInterval;
            const double element = std::floor(t / kKeyElementSeconds);
            const double now = Unit(settings.seed, 10, std::int64_t(element)) < 0.5 ? 1 : 0;
            const double before = Unit(settings.seed, 10, std::int64_t(element) - 1) < 0.5 ? 1 : 0;
            const double into = t - element * kKeyElementSeconds;
            const double level =
                into >= kKeyEdgeSeconds
                    ? now
                    : before + (now - before) * 0.5 *
                                   (1 - std::cos(std::numbers::pi * into / kKeyEdgeSeconds));
            x[k] += amplitude * level * std::cos(2 * std::numbers::pi * hz * t);
        }
        break;
    }
}

RealisticSkySettings DrawRealisticSky(std::mt19937* random, double noiseRms, double cellGainDb,
                                      bool curvedEarth) {
    std::uniform_real_distribution<double> unit(0, 1);
    auto in = [&](double from, double to) { return from + (to - from) * unit(*random); };
    RealisticSkySettings sky;
    sky.seed = std::uint32_t((*random)());
    sky.sweptFromKhz = unit(*random) < 0.3 ? in(2000, 5000) : 0;
    sky.sweptToKhz = unit(*random) < 0.3 ? in(16000, 30000) : 1e9;
    sky.broadcast = BroadcastBands(0);
    for (BroadcastBand& band : sky.broadcast) {
        band.levelDb = in(20, 40);
    }
    for (double khz = 2000; khz < 30000; khz += 100) {
        if (unit(*random) < 0.015) {
            sky.floodedKhz.push_back(khz);
        }
    }
    sky.floodedDb = in(15, 30);
    const double range = in(3000, 4000);
    const double peak = in(250, 350);
    const double thick = in(50, 100);
    const double mof1 = in(9000, 29000);
    const int hops = unit(*random) < 0.5 ? 3 : 2;
    double level = in(16, 30);
    auto fading = [&](SkyMode* mode) {
        mode->spreadMs = in(0.2, 0.5);
        mode->missingShare = in(0, 0.15);
        mode->weakRunShare = in(0, 0.2);
        mode->highFadeMs = in(1, 3);
    };
    IonosphericLayer f{1000, peak, thick, range, 1, 0};
    f.sphere = curvedEarth;
    f = WithMof(f, mof1);
    for (int n = 1; n <= hops; ++n) {
        SkyMode mode;
        mode.name = std::to_string(n) + "F";
        mode.layer = f;
        mode.layer.hops = n;
        // Each hop count reflects at places of its own along the path (2F a quarter of the way
        // in from each end, 3F a sixth and at the middle), where the layer's peak lies a little
        // higher or lower and its critical frequency differs by a few per cent. (Drawn from the
        // sky's seed, not the set's generator: the rest of the set stays as it was.)
        if (n > 1) {
            mode.layer.criticalKhz *= 1 + kHopFcShare * (2 * Unit(sky.seed, kHopDraws + n, 0) - 1);
            mode.layer.peakKm += kHopPeakKm * (2 * Unit(sky.seed, kHopDraws + n, 1) - 1);
        }
        mode.layer.amplitude = Amplitude(noiseRms, level, cellGainDb);
        mode.xSplitKhz = in(600, 700);
        mode.xShare = in(0.5, 1.0);
        fading(&mode);
        sky.modes.push_back(mode);
        // The next hop is mostly weaker (another ground reflection), now and then stronger.
        level += unit(*random) < 0.8 ? -in(2, 8) : in(0, 4);
    }
    // An E mode or sporadic E, where its low ray stays clear of the F modes'.
    const double other = unit(*random);
    if (other < 0.45) {
        SkyMode mode;
        mode.flat = other < 0.25;
        mode.name = std::string(mode.flat ? "Es" : "E");
        mode.layer = {1000,
                      mode.flat ? in(100, 110) : in(105, 120),
                      mode.flat ? 3 : in(10, 20),
                      range,
                      2 + int(unit(*random) * 3),
                      Amplitude(noiseRms, in(14, 28), cellGainDb)};
        mode.layer.sphere = curvedEarth;
        mode.layer = WithMof(mode.layer, in(4000, 11000));
        mode.topKhz = mode.flat ? in(4000, 12000) : 0;
        // On a long path its multi-hop delay lies within a few tenths of a millisecond of
        // 1F's: sporadic E is drawn blanketing the F modes under its top (they are heard
        // above it only), where the two never run together.
        mode.blanketDb = mode.flat ? kBlanketDb : 0;
        fading(&mode);
        if (mode.flat) {
            mode.spreadMs = in(0.1, 0.2);
        }
        RealisticSky check(sky);
        RealisticSkySettings alone;
        alone.modes = {mode};
        const RealisticSky itself(alone);
        bool clear = true;
        for (double khz = 2000; khz < 30000 && clear; khz += 100) {
            const std::vector<LayerRay> own = itself.ModeCurves(0, khz);
            for (int m = 0; m < int(sky.modes.size()) && !own.empty() && !mode.flat; ++m) {
                const std::vector<LayerRay> rays = check.ModeCurves(m, khz);
                if (!rays.empty() && std::abs(rays[0].delayMs - own[0].delayMs) < 0.3) {
                    clear = false;
                }
            }
        }
        if (clear) {
            mode.name = std::to_string(mode.layer.hops) + mode.name;
            sky.modes.push_back(mode);
        }
    }
    // A sounder silent over part of the band, often between two noses.
    if (unit(*random) < 0.5) {
        const double width = in(500, 3000);
        double centre = in(4000, 25000);
        if (sky.modes.size() >= 2 && unit(*random) < 0.6) {
            RealisticSky check(sky);
            const double a = check.MofKhz(0);
            const double b = check.MofKhz(1);
            centre = (a + b) / 2;
            if (std::abs(a - b) < width + 600) {
                centre = 0;
            }
        }
        if (centre > 0) {
            sky.silentFromKhz = centre - width / 2;
            sky.silentToKhz = centre + width / 2;
        }
    }
    return sky;
}

RealisticSkySettings PresetSky(double noiseRms) {
    constexpr double kGainDb = 19; // the dechirp's cell over the passband
    RealisticSkySettings sky;
    sky.seed = 27;
    sky.sweptFromKhz = 2000;
    sky.sweptToKhz = 30000;
    IonosphericLayer f{1000, 350, 60, 3000, 1, 0};
    f = WithMof(f, 19000);
    const double levels[] = {28, 22, 17};
    for (int n = 1; n <= 3; ++n) {
        SkyMode mode;
        mode.name = std::to_string(n) + "F";
        mode.layer = f;
        mode.layer.hops = n;
        mode.layer.amplitude = Amplitude(noiseRms, levels[n - 1], kGainDb);
        mode.xSplitKhz = 650;
        mode.xShare = 0.7;
        mode.spreadMs = 0.3;
        mode.missingShare = 0.05;
        mode.highFadeMs = 2;
        sky.modes.push_back(mode);
    }
    // 1F's O nose at 19 MHz, 2F's at 10.3, 3F's at 7.7 (their X noses 650 kHz above): silent
    // between 2F's and 1F's.
    sky.silentFromKhz = 14000;
    sky.silentToKhz = 16000;
    sky.broadcast = BroadcastBands(30);
    return sky;
}

} // namespace ionogram
