#include "support/scaledmessage.h"

feed::Scaled CyprusSweep(const QDateTime& startUtc) {
    feed::Scaled scaled;
    scaled.sounder = {QStringLiteral("Cyprus"), 100, 300, 78, geo::Position{35.1856, 33.3823}};
    auto sweep = std::make_shared<ionogram::IonogramSweep>();
    sweep->startUtc = startUtc;
    scaled.sweep = sweep;
    ionogram::ScaledTrace trace;
    trace.number = 1;
    trace.lofKhz = 4100;
    trace.mofKhz = 13450;
    trace.minDelayMs = 9.21;
    trace.peakSnrDb = 23.94;
    scaled.scaled.traces = {trace, trace};
    scaled.scaled.traces[1].number = 2;
    ionogram::SweepGeometry geometry;
    geometry.path.distanceKm = 2590.14;
    geometry.path.midpoint = {44.1, 22.3};
    geo::PathLayer layer;
    layer.mode = "1F";
    layer.criticalKhz = 6100;
    layer.m3000 = 2.9;
    layer.muf3000Khz = 17700;
    geo::PathLayer unknown;
    unknown.error = "too short";
    geometry.layers = {layer, unknown};
    scaled.scaled.geometry = geometry;
    scaled.scaledUtc = startUtc.addSecs(300);
    return scaled;
}
