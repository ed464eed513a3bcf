#include "geo/knownsites.h"

namespace geo {

namespace {

constexpr char kPublished[] = "position as published with a public chirp-receiver configuration";

} // namespace

const std::vector<KnownSite>& KnownSounderSites() {
    static const std::vector<KnownSite> sites = {
        {"Virginia (Chesapeake) over-the-horizon radar", {37.5656, -76.2639}, kPublished},
        {"Puerto Rico over-the-horizon radar", {18.0089, -66.5061}, kPublished},
        {"Texas over-the-horizon radar", {27.5274, -98.7164}, kPublished},
        {"Australian over-the-horizon radar network (centroid)",
         {-23.8534, 125.0762},
         "centroid of the network's sites, from the positions published with a public "
         "chirp-receiver configuration"},
        {"Cyprus", {35.1856, 33.3823}, kPublished},
        {"Sodankylä", {67.3637, 26.6343}, kPublished},
    };
    return sites;
}

} // namespace geo
