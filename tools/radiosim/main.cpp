// tavmirok-radiosim: a simulated Icom transceiver on a pseudo-terminal; see --help.

#include "options.h"
#include "radiosim.h"
#include "sweep/schedule.h"
#include "sweep/utcclock.h"

#include <cstdio>

namespace {

// --print-sweep-start: the first step of the next sweep of the sounder given by --sweep-rate,
// --period, --low, --high and --step, read off the clock as Start does.
int PrintSweepStart(double chirpTime, const sweep::Profile& profile) {
    if (const Status valid = sweep::ValidateProfile(profile); !valid.IsOk()) {
        std::fprintf(stderr, "tavmirok-radiosim: %s\n", qPrintable(valid.Message()));
        return 2;
    }
    if (chirpTime < 0 || chirpTime >= profile.period) {
        std::fprintf(stderr,
                     "tavmirok-radiosim: --print-sweep-start needs a chirp time from 0 to "
                     "%g, below the period\n",
                     profile.period);
        return 2;
    }
    const double firstReading = sweep::SecondsSinceUtcMidnight();
    const double secondReading = sweep::SecondsSinceUtcMidnight();
    const double start = sweep::StartTime(firstReading, secondReading, chirpTime, profile);
    std::printf("%.3f %.3f\n", sweep::AroundTheDay(start, secondReading), start);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    SimOptions options;
    if (const auto error = ParseOptions(argc, argv, &options); !error.empty()) {
        std::fprintf(stderr, "tavmirok-radiosim: %s\nTry tavmirok-radiosim --help.\n",
                     error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (options.sweepStartChirpTime) {
        return PrintSweepStart(*options.sweepStartChirpTime, options.audio.profile);
    }
    RadioSim sim(options);
    return sim.Run();
}
