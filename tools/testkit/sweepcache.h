#pragma once

// Dechirped sweeps kept in a file between runs of a benchmark: the sweeps are drawn alike every
// run, so the first run makes them and writes them in order, and the next reads them back in the
// same order instead of computing their audio again (to try the scaler or a fit quickly). The
// file is named by an environment variable; without it every sweep is made. The file starts with
// the tag of the sweeps it holds (the set of seeds they were drawn from): a file of another tag is
// written anew.

#include "ionogram/ionogram.h"

#include <cstdint>
#include <cstdio>
#include <functional>

class SweepCache {
public:
    explicit SweepCache(const char* variable, std::uint32_t tag = 0);
    ~SweepCache();
    SweepCache(const SweepCache&) = delete;
    SweepCache& operator=(const SweepCache&) = delete;

    // The next sweep from the file; else make() (written to the file when one is named). A file
    // that ends early or is cut short is read as far as it goes, then written no more.
    ionogram::IonogramSweep Get(const std::function<ionogram::IonogramSweep()>& make);

private:
    std::FILE* file = nullptr;
    bool reading = false;
};
