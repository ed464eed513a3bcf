// tavmirok-radiosim: a simulated Icom transceiver on a pseudo-terminal; see --help.

#include "options.h"
#include "radiosim.h"
#include "sweep/localclock.h"
#include "sweep/schedule.h"

#include <cstdio>

namespace {

// --print-sweep-start: the first step of the next sweep, read off the clock as Start does.
int PrintSweepStart(double chirpTime) {
    const double firstReading = sweep::SecondsSinceLocalMidnight();
    const double secondReading = sweep::SecondsSinceLocalMidnight();
    const double start = sweep::StartTime(firstReading, secondReading, chirpTime);
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
        return PrintSweepStart(*options.sweepStartChirpTime);
    }
    RadioSim sim(options);
    return sim.Run();
}
