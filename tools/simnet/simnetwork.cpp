#include "simnet/simnetwork.h"

#include "simulation/ionolayer.h"

#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace simnet {

namespace {

constexpr double kDegree = std::numbers::pi / 180;
constexpr double kNightKhz = 2500;
constexpr double kDayRiseKhz = 8500;
constexpr double kPeakKm = 300;
constexpr double kSemiThicknessKm = 100;
constexpr double kLongestHopKm = 3500;
constexpr double kShortestPathKm = 500;
constexpr double kLowestKhz = 3000; // the simulated sounders sweep from here
constexpr double kRateKhzPerS = 100;
constexpr double kMufReferenceKm = 3000;
constexpr double kObliquity = 23.44;
constexpr int kDaysPerYear = 365;
constexpr int kSolsticeDay = 172; // late June

} // namespace

const std::vector<SimSounder>& Sounders() {
    static const std::vector<SimSounder> sounders = {
        {QStringLiteral("Sim-Cyprus"), {35.19, 33.38}, 78},
        {QStringLiteral("Sim-Norway"), {69.65, 18.96}, 12},
        {QStringLiteral("Sim-Britain"), {51.6, -1.3}, 33},
        {QStringLiteral("Sim-Virginia"), {37.9, -75.5}, 150},
        {QStringLiteral("Sim-Colorado"), {40.0, -105.3}, 201},
        {QStringLiteral("Sim-Brazil"), {-22.7, -45.0}, 57},
        {QStringLiteral("Sim-SouthAfrica"), {-34.4, 19.2}, 260},
        {QStringLiteral("Sim-India"), {28.6, 77.2}, 91},
        {QStringLiteral("Sim-Japan"), {35.7, 139.5}, 120},
        {QStringLiteral("Sim-Australia"), {-35.3, 149.0}, 240},
        {QStringLiteral("Sim-Hawaii"), {20.8, -156.3}, 180},
        {QStringLiteral("Sim-Siberia"), {52.3, 104.3}, 5},
    };
    return sounders;
}

std::vector<SimStation> MakeStations(int count, int soundersEach, std::uint32_t seed) {
    std::mt19937 random(seed);
    // Where amateurs are: mostly the northern mid-latitudes, some everywhere else.
    std::uniform_real_distribution<double> lon(-180, 180);
    std::uniform_real_distribution<double> sinLat(std::sin(-45 * kDegree), std::sin(65 * kDegree));
    std::vector<SimStation> stations;
    for (int i = 0; i < count; ++i) {
        SimStation station;
        station.callsign = QStringLiteral("SIM%1").arg(i, 4, 10, QLatin1Char('0'));
        station.at = {std::asin(sinLat(random)) / kDegree, lon(random)};
        std::vector<std::pair<double, int>> byDistance;
        for (int s = 0; s < static_cast<int>(Sounders().size()); ++s) {
            const double km = geo::PathBetween(station.at, Sounders()[s].at).distanceKm;
            if (km >= kShortestPathKm) {
                byDistance.emplace_back(km, s);
            }
        }
        std::sort(byDistance.begin(), byDistance.end());
        for (int k = 0; k < soundersEach && k < static_cast<int>(byDistance.size()); ++k) {
            station.sounders.push_back(byDistance[k].second);
        }
        stations.push_back(station);
    }
    return stations;
}

double Fof2Khz(const geo::Position& at, const QDateTime& utc) {
    const QDateTime time = utc.toUTC();
    const double hours = time.time().msecsSinceStartOfDay() / 3.6e6;
    const double declination =
        kObliquity *
        std::cos(2 * std::numbers::pi * (time.date().dayOfYear() - kSolsticeDay) / kDaysPerYear);
    const double hourAngle = (hours - 12) * 15 + at.longitude;
    const double cosZenith = std::sin(at.latitude * kDegree) * std::sin(declination * kDegree) +
                             std::cos(at.latitude * kDegree) * std::cos(declination * kDegree) *
                                 std::cos(hourAngle * kDegree);
    // The layer lags the sun a little and fades slowly after sunset: a soft step of the zenith.
    const double day = 0.5 * (1 + std::tanh(4 * (cosZenith + 0.1)));
    return kNightKhz + kDayRiseKhz * day * std::pow(std::max(cosZenith, 0.0) * 0.6 + 0.4, 1.2);
}

feed::Scaled ScaledSweepOf(const SimStation& station, int sounderIndex, const QDateTime& utc,
                           std::uint32_t seed) {
    const SimSounder& sounder = Sounders()[sounderIndex];
    feed::Scaled scaled;
    scaled.sounder = {sounder.name, kRateKhzPerS, kSweepPeriodS, sounder.chirpTimeS, sounder.at};
    auto sweep = std::make_shared<ionogram::IonogramSweep>();
    sweep->sounder = sounder.name;
    sweep->startUtc = utc;
    scaled.sweep = sweep;
    scaled.scaledUtc = utc.addSecs(static_cast<qint64>(kSweepPeriodS / 2));
    const geo::GreatCircle path = geo::PathBetween(station.at, sounder.at);
    const int hops = static_cast<int>(std::ceil(path.distanceKm / kLongestHopKm));
    const double fof2 = Fof2Khz(path.midpoint, utc);
    const ionogram::IonosphericLayer layer{fof2, kPeakKm, kSemiThicknessKm, path.distanceKm,
                                           hops, 1};
    const double mof = ionogram::LayerMofKhz(layer);
    ionogram::SweepGeometry geometry;
    geometry.path = path;
    if (mof > kLowestKhz) {
        std::mt19937 random(seed ^ static_cast<std::uint32_t>(utc.toSecsSinceEpoch()) ^
                            static_cast<std::uint32_t>(qHash(station.callsign)) ^
                            static_cast<std::uint32_t>(sounderIndex));
        std::normal_distribution<double> noise(0, 1);
        ionogram::ScaledTrace trace;
        trace.number = 1;
        trace.lofKhz = kLowestKhz;
        // The scaler reads the nose to a step of 100 kHz, give or take one.
        trace.mofKhz = std::round(mof / 100 + 0.5 * noise(random)) * 100;
        trace.minDelayMs = ionogram::LayerLeastDelayMs(layer) + 0.02 * noise(random);
        trace.minDelayKhz = kLowestKhz;
        trace.peakSnrDb = 22 + 5 * noise(random);
        scaled.scaled.traces.push_back(trace);
        const ionogram::IonosphericLayer reference{fof2, kPeakKm, kSemiThicknessKm, kMufReferenceKm,
                                                   1,    1};
        geo::PathLayer fitted;
        fitted.mode = std::to_string(hops) + "F";
        fitted.hops = hops;
        fitted.method = "fit";
        fitted.criticalKhz = fof2 * (1 + 0.02 * noise(random));
        fitted.peakKm = kPeakKm;
        fitted.semiThicknessKm = kSemiThicknessKm;
        fitted.muf3000Khz = ionogram::LayerMofKhz(reference);
        fitted.m3000 = fitted.muf3000Khz / fof2;
        geometry.layers.push_back(fitted);
    }
    scaled.scaled.geometry = geometry;
    return scaled;
}

} // namespace simnet
