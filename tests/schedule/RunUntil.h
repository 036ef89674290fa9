// The program tests' common run: start the program in its folder, let it play
// until a time of day, end it as a service manager would and read its capture.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "CaptureAnalysis.h"
#include "ProgramRun.h"

namespace e2e {

inline void RunUntil(ProgramRun& run, std::uint32_t until, capture::Sound& sound) {
    ASSERT_TRUE(run.Start());
    run.WaitFor(std::chrono::milliseconds(until - LocalTimeOfDayMs()));
    ASSERT_TRUE(run.Running()) << "the program ended by itself";
    int status = 0;
    ASSERT_TRUE(run.Terminate(std::chrono::seconds(10), status)) << "no end within 10 s of SIGTERM";
    std::string error;
    ASSERT_TRUE(capture::ReadWav(run.Capture(), sound, error)) << error;
}

}  // namespace e2e
