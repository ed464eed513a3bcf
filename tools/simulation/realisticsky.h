#pragma once

// A sky as oblique ionograms of long paths (3000-4000 km) show it: families of modes of one layer
// (1F, 2F, 3F: the n-hop delays lie a fraction of a millisecond apart, the weaker above; each hop
// count's reflections lie elsewhere on the path, where the layer differs a little), E and
// sporadic E (flat, blanketing the F modes under its top frequency), each F mode split into an O
// and an X trace whose noses lie half a gyrofrequency apart, thick traces that fade at random and
// in runs, high rays that fade out as they rise; a sounder silent over part of the band or
// sweeping only part of it; broadcast bands full of programme audio and single flooded columns.
// Deterministic: the same sky and dial give the same rays and audio.

#include "simulation/simulatedionosphere.h"

#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace ionogram {

struct SkyMode {
    std::string name;        // "1F", "2Es" ...
    IonosphericLayer layer;  // the O trace's layer (amplitude: the low ray's)
    double xSplitKhz = 0;    // the X nose lies this far above the O nose; 0: no X trace
    double xShare = 0;       // the X trace's amplitude over the O trace's
    double spreadMs = 0;     // multipath: three paths over this span of delay
    double missingShare = 0; // columns where the mode is not heard at all
    double weakRunShare = 0; // share of runs of columns where it is 12 dB weaker
    double highFadeMs = 0;   // the high ray weakens e-fold every this many ms above the nose
    bool flat = false;       // sporadic E: a flat trace up to topKhz
    double topKhz = 0;       // flat: its top frequency
    double blanketDb = 0;    // flat: the F modes are this much weaker under topKhz
};

struct BroadcastBand {
    double fromKhz = 0;
    double toKhz = 0;
    double levelDb = 0; // programme audio over the noise in the passband
};

struct RealisticSkySettings {
    std::vector<SkyMode> modes;
    double sweptFromKhz = 0;  // the sounder transmits from here ...
    double sweptToKhz = 0;    // ... to here
    double silentFromKhz = 0; // ... but not in between these (none when equal)
    double silentToKhz = 0;
    std::vector<BroadcastBand> broadcast;
    std::vector<double> floodedKhz; // single columns flooded by a keyed carrier
    double floodedDb = 0;           // its level over the noise in the passband
    std::uint32_t seed = 1;
};

// The shortwave broadcast bands (kHz), as a receiver on a long path hears them in the evening.
std::vector<BroadcastBand> BroadcastBands(double levelDb);

class RealisticSky : public SkyModel {
public:
    explicit RealisticSky(RealisticSkySettings settings);

    std::vector<LayerRay> Rays(double dialKhz) const override;
    void AddAudio(double dialKhz, double firstSampleTime, double sampleInterval, double whiteRms,
                  std::span<double> x) const override;

    // One mode's rays at the dial, as they are heard (faded, blanketed, silenced).
    std::vector<LayerRay> ModeRays(int mode, double dialKhz) const;
    // One mode's rays as the layer makes them, O and X, unfaded: its curves (none where
    // sporadic E blankets it whole).
    std::vector<LayerRay> ModeCurves(int mode, double dialKhz) const;
    // The mode's MOF (its X nose, or its top for a flat one) and its O nose (0 without X).
    double MofKhz(int mode) const;
    double OMofKhz(int mode) const;
    // Whether the sounder is heard at the dial at all.
    bool Transmitting(double dialKhz) const;
    // Whether the dial lies in a broadcast band or a flooded column.
    bool Flooded(double dialKhz) const;

    const RealisticSkySettings& Config() const { return settings; }

private:
    double Fading(int mode, double dialKhz) const;
    std::vector<LayerRay> TracedCurves(int mode, double dialKhz) const;

    RealisticSkySettings settings;
    std::vector<double> layerMofKhz;       // each mode's O nose, found once
    std::vector<IonosphericLayer> xLayers; // and the layer of its X trace
    // Each mode's curves by column, traced once: a curved earth's rays take a search of every
    // launch elevation, and the radio hears a column in many blocks of audio.
    struct Traced {
        std::mutex guard;
        std::map<std::pair<int, long long>, std::vector<LayerRay>> curves;
    };
    std::shared_ptr<Traced> traced = std::make_shared<Traced>();
};

// The amplitude of a tone levelDb over the noise in the cell, the noise in the passband being
// noiseRms and a cell gainDb better than the passband.
double Amplitude(double noiseRms, double levelDb, double gainDb);

// A sky drawn at random for the benchmark: a path of 3000-4000 km, 1F and 2F (often 3F, an E
// mode or sporadic E), the low ray of the first mode levelDb over the noise; noiseRms is the
// noise's RMS in the passband, from which amplitudes follow (cellGainDb: a tone's cell SNR over
// its level in the passband). curvedEarth: every layer's rays traced over the curved earth
// (raytrace.h) rather than by the flat earth's secant law, which on paths this long puts the
// noses too far apart (1F's MOF some 5 critical frequencies, not 3) and 1F's high ray too close
// to its low ray. The path, the layer and the levels are drawn alike either way.
RealisticSkySettings DrawRealisticSky(std::mt19937* random, double noiseRms, double cellGainDb,
                                      bool curvedEarth = false);

// The sky the simulated radio offers as a preset: three F modes 0.5-0.9 ms apart, each weaker
// than the one below and each an O and an X trace, noses at three frequencies, a silent band
// between two of them, the broadcast bands.
RealisticSkySettings PresetSky(double noiseRms);

} // namespace ionogram
