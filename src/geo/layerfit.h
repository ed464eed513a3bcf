#pragma once

// From an oblique trace to the ionosphere over the path's midpoint: the layer (critical
// frequency, peak height, semi-thickness) and hop count whose ray-traced trace explains the
// scaled points best, the mode it makes (1E, 1F, 2F...), and M(3000)F2 and MUF(3000)F2 of that
// layer over a 3000 km hop. A trace too short to fit falls back to P.533's relations from its
// MOF and least delay. And where one sweep shows one and two hops of the same layer, the audio
// delay that makes both agree. Pure functions of plain values.

#include "geo/obliquepath.h"

#include <string>
#include <vector>

namespace geo {

// One scaled cell of a trace: its column's frequency and its delay (ms), the audio delay setting
// already taken off, on the low ray (up to and with the nose) or the high ray.
struct TracePoint {
    double khz = 0;
    double delayMs = 0;
    bool high = false;
};

constexpr int kMaxHops = 4;
constexpr double kHighestELayerKm = 150; // a peak below is an E layer, above an F layer
constexpr double kStepKhz = 100;         // the ionogram's column spacing

struct PathLayer {
    std::string error; // when set, the trace says nothing of the layer (and nothing else is set)
    std::string mode;  // "1F", "2F", "1E"...
    int hops = 0;
    std::string method;            // one of the k... methods below
    double criticalKhz = 0;        // foF2 (foE for an E mode) at the midpoint
    double peakKm = 0;             // hmF2
    double semiThicknessKm = 0;    // 0 where P.533's relations made the result
    double leastDelayHeightKm = 0; // the equivalent triangle's apex at the least delay
    double m3000 = 0;              // M(3000)F2
    double muf3000Khz = 0;         // MUF(3000)F2
    double misfit = 0;             // the fit's mean loss per point (0 for p533)
};

// How a row's layer was made: fitted to the whole trace, or P.533's relations from its MOF and
// least delay; "-cut" where the trace runs into the sweep's top or a column that was not heard, so
// that its nose was not seen: its top column is then a lower bound on the MOF, and the layer
// fitted to the rays that are there (its foF2 is less sure, and if anything low).
inline const std::string kFitted = "fit";
inline const std::string kFittedOpen = "fit-cut";
inline const std::string kFallBack = "p533";
inline const std::string kFallBackOpen = "p533-cut";

// One trace alone: over a flat earth a trace fits as well over n hops of a layer as over 2n of
// one half as high, so alone its mode is the lowest order whose layer is a usual one. An open trace
// is cut (see above).
PathLayer FitTrace(const std::vector<TracePoint>& trace, double groundKm, bool open = false);

// The traces of one sounder's sweep together (as many as the sweep shows, a few at most): they
// are the modes of one layer, so their hop counts are chosen together, those whose one layer
// explains every trace best, and each trace gets that layer (a trace it cannot explain, of another
// layer or of none, keeps its own fit). A trace may be a piece the scaler cut from a longer one.
// Results in the traces' order; open[i], where given, says trace i is cut.
std::vector<PathLayer> FitSweep(const std::vector<std::vector<TracePoint>>& traces, double groundKm,
                                const std::vector<bool>& open = {});

// The delay, common to both traces, that a layer seen over one hop and two hops of groundKm
// needs to explain them: the audio delay still in their delays (the whole audio delay for
// delays as measured, the setting's error for delays with the setting taken off).
struct AudioDelayEstimate {
    bool valid = false;
    double delayMs = 0;
    Layer layer;
};
AudioDelayEstimate EstimateAudioDelay(const std::vector<TracePoint>& oneHop,
                                      const std::vector<TracePoint>& twoHops, double groundKm);

// The estimate to suggest after many sweeps: the median, robust to a sweep whose traces were
// taken for the wrong pair.
double MedianAudioDelay(std::vector<double> estimatesMs);

} // namespace geo
