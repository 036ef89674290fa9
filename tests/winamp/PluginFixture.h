// Shared set-up of the plug-in tests: a fresh host, a temporary folder, and a
// play to the end that never waits without a bound.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/Pcm.h"
#include "tests/support/TempDir.h"
#include "tests/winamp/TestHost.h"

namespace wtest {

using testsound::channel;
using testsound::crossingFrequency;
using testsound::readBytes;
using testsound::rms;
using testsound::runQuiet;
using testsound::toInt16;
using testsound::writeBytes;

class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override { resetHost(); }

    std::string file(const std::string& name) const { return dir_.File(name); }
    // A sox-made file: "sox -n <format> <path> <effects>"; empty when sox failed.
    std::string sox(const std::string& name, const std::string& format,
                    const std::string& effects) const {
        const std::string path = file(name);
        return runQuiet("sox -n " + format + " '" + path + "' " + effects) ? path : std::string();
    }

    // Plays path through plugin until the end message; returns Play's result
    // and whether the end came within the limit.
    static bool playToEnd(LoadedPlugin& plugin, const std::string& path,
                          std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::string name = path;
        if (plugin->Play(name.data()) != 0) return false;
        const bool ended = waitForEnd(limit);
        plugin->Stop();
        return ended;
    }

  private:
    TempDir dir_;
};

}  // namespace wtest
