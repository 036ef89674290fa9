// The SDK-style test DSP (TestDsp.c), held loaded by the test so that its
// settings hold across the host's loads, and the host cleared after each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/win/DynLib.h"
#include "plugins/DSPHost.h"
#include "tests/support/BinDir.h"

namespace dsphosttest {

enum Result { kSame, kZero, kNegative, kTriple };

struct Counts {
    int inits = 0, quits = 0, calls = 0, asked = 0;
};

inline std::string TestDspPath() {
    return std::string(TestPluginDir()) + "/test_dsp.dll";
}

class TestDspLibrary {
  public:
    TestDspLibrary() : handle(win::LoadLibrary(TestDspPath())) {
        configure_ = reinterpret_cast<void (*)(int, int, int)>(
            win::GetProcAddress(handle, "test_dsp_configure"));
        counts_ = reinterpret_cast<void (*)(int*, int*, int*, int*)>(
            win::GetProcAddress(handle, "test_dsp_counts"));
        Configure(1, 0, kSame);
    }
    ~TestDspLibrary() {
        UnloadDSPModules();
        FreeDSPDll();
        win::FreeLibrary(handle);
    }
    bool Ready() const { return configure_ && counts_; }
    void Configure(int modules, int initResult, Result result) {
        if (configure_) configure_(modules, initResult, result);
    }
    Counts Now() const {
        Counts c;
        if (counts_) counts_(&c.inits, &c.quits, &c.calls, &c.asked);
        return c;
    }

    win::HMODULE handle;

  private:
    void (*configure_)(int, int, int) = nullptr;
    void (*counts_)(int*, int*, int*, int*) = nullptr;
};

}  // namespace dsphosttest
