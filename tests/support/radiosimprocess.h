#pragma once

// The simulated radio as a child process lives in tools/testkit (tavmirok_testkit), where the
// benchmarks and tools use it too; this keeps the tests' include name.

#include "testkit/radiosimprocess.h"
