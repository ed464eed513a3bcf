// tavmirok-radiosim: a simulated Icom transceiver on a pseudo-terminal; see --help.

#include "options.h"
#include "radiosim.h"

#include <cstdio>

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
    RadioSim sim(options);
    return sim.Run();
}
