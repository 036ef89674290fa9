// The test signals live with the other sound helpers of the tests.
#pragma once

#include "tests/support/Signals.h"
