#pragma once

// Scales one sweep's ionogram: finds the traces (one per propagation mode, low and high ray
// together) among the SNR cells and tells for each its lowest and maximum observed frequency,
// its least delay and where it lies, and its peak SNR. Pure: cells in, traces out.
//
// Every column is already in dB over its own median, so one threshold serves every column. On
// noise alone a cell's power over the median is exponential: P(cell > T dB) = exp(-ln 2·10^(T/10)).
// A peak counts from kCellDb (8 dB: 1.3 % of noise cells, which is why a trace needs to run
// across kMinColumns columns, linked within kLinkMs, before it counts); a trace needs one cell
// of at least kTraceDb (12 dB: 1.7e-5 of noise cells, about 1 in 150 columns of 20 ms).
//
// Two readings of one sweep: peaks linked column by column, and whole curves (each mode an
// oblique layer trace fitted from its nose down, strongest first, so that a weaker mode a
// fraction of a millisecond above a stronger one keeps its nose). The reading whose traces
// explain more of the cells, less a cost per trace, is taken.

#include "ionogram/ionogram.h"
#include "ionogram/pathgeometry.h"

#include <optional>
#include <vector>

namespace ionogram {

constexpr double kCellDb = 8;
constexpr double kTraceDb = 12;
constexpr int kMinColumns = 4;  // shorter traces are noise
constexpr double kLinkMs = 0.3; // a trace's next peak lies this close to where it points
// A column with more of its cells over kCellDb than this, or a run of them wider than any trace,
// was flooded (a carrier keyed inside its window); it is set aside like a missing column.
constexpr double kFloodShare = 0.2;
constexpr double kWidestTraceMs = 2.5;
// A weaker peak this close to a stronger one and this far below it is the dechirp's sidelobe
// (they lie 20 dB or more under a mode, mostly on the side of longer delays, up to 2 ms away).
constexpr double kSidelobeSpanMs = 2.0;
constexpr double kSidelobeDb = 18;

// A cell the trace occupies: one per column and ray.
struct TracePoint {
    double khz = 0;
    double delayMs = 0;
    double snrDb = 0;
    bool high = false; // on the high ray (above the low ray of its column)
};

struct ScaledTrace {
    int number = 0; // from 1, by increasing least delay
    double lofKhz = 0;
    double mofKhz = 0; // the highest nose: the X trace's where the mode is split
    double minDelayMs = 0;
    double minDelayKhz = 0;
    double peakSnrDb = 0;
    double oMofKhz = 0; // the O trace's nose where it stands apart from the X nose, else 0
    bool flat = false;  // its delay does not rise towards its top (sporadic E)
    std::vector<TracePoint> points; // by frequency, the low ray first in each column
};

struct ScaledSweep {
    std::vector<ScaledTrace> traces; // numbered from 1 by least delay
    // The path and the layer behind each trace, where both ends of the path are known.
    std::optional<SweepGeometry> geometry;
};

// A column's peaks that may belong to traces: delay (interpolated between cells) and SNR.
struct ColumnPeak {
    double delayMs = 0;
    double snrDb = 0;
};

// Whether a column is flooded (see kFloodShare); a column with NaN cells is never usable.
bool ColumnFlooded(const std::vector<float>& snrDb);

// The column's peaks over kCellDb, its sidelobes and lesser peaks within the resolution left out,
// by increasing delay.
std::vector<ColumnPeak> ColumnPeaks(const std::vector<float>& snrDb, double delayFromMs);

ScaledSweep ScaleSweep(const IonogramSweep& sweep);

} // namespace ionogram
