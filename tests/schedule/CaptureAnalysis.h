// The capture analysis lives with the other sound helpers of the tests.
#pragma once

#include "tests/support/CaptureAnalysis.h"
