#pragma once

// What a way to the radio allows a plan of tunings, as the rig layer knows its backends: how
// closely one tuning command may follow the last, and how much later than it is sent a command
// may reach the radio. The plan is made from these before the backend is connected (a dialog
// checks a set of sounders against the backend chosen), so they depend on the choice alone.

#include "rig/rigchoice.h"

struct BackendTraits {
    double commandSpacing = 0; // s: the shortest time from one command to the next
    double commandReach = 0;   // s: how much later than sent a command may reach the radio
};

// The built-in link waits for the radio's acknowledgement of each set, so its spacing grows as
// the line slows (baudRate in bit/s); it writes each set to the bus at once. rigctld and Hamlib
// wait for the reply before the next command, and Hamlib (which is also what rigctld drives)
// first reads the frequency back when the one it keeps is older than half a second, which every
// slot after a pause finds.
BackendTraits TraitsOf(const RigChoice& choice, int baudRate);
