#pragma once

// A simulated network of stations: stations at random places, each hearing the nearest few of a
// dozen simulated sounders over one to three hops of an F layer whose critical frequency follows
// a smooth map (the sun's height over the path's midpoint), with the simulated radio's layer
// physics for each path's MOF and least delay. Deterministic for a seed.

#include "station/stationfeed.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <vector>

namespace simnet {

constexpr double kSweepPeriodS = 300;

struct SimSounder {
    QString name;
    geo::Position at;
    double chirpTimeS = 0;
};

struct SimStation {
    QString callsign;
    geo::Position at;
    std::vector<int> sounders; // indices into Sounders()
};

// The simulated sounders.
const std::vector<SimSounder>& Sounders();

// count stations, each hearing soundersEach sounders (the nearest beyond 500 km).
std::vector<SimStation> MakeStations(int count, int soundersEach, std::uint32_t seed);

// foF2 (kHz) over a place at a time: a night floor, the day's rise with the sun's height.
double Fof2Khz(const geo::Position& at, const QDateTime& utc);

// The scaled sweep of one station's sounder starting at utc, as the station's feed reports it.
feed::Scaled ScaledSweepOf(const SimStation& station, int sounder, const QDateTime& utc,
                           std::uint32_t seed);

} // namespace simnet
