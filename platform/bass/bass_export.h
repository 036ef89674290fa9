// Marks the library's exported C functions.
#pragma once

#include "bass_types.h"

#define BASS_API __attribute__((visibility("default")))
