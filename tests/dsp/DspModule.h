// The built compressor plug-in (dsp_wd.dll in the program directory), loaded
// the way the host loads it: its first module, initialised, fed 16-bit
// interleaved blocks through ModifySamples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct winampDSPModule;

namespace dsptest {

class DspModule {
  public:
    // path: the library; empty for the build's dsp_wd.dll.
    explicit DspModule(const std::string& path = {});
    ~DspModule();
    DspModule(const DspModule&) = delete;
    DspModule& operator=(const DspModule&) = delete;

    bool Ready() const { return module_ != nullptr; }
    // Processes pcm in blocks of blockFrames frames (0: one block).
    void Process(std::vector<int16_t>& pcm, int channels, int rate, int blockFrames = 576);

  private:
    void* library_ = nullptr;
    winampDSPModule* module_ = nullptr;
};

// A copy of pcm run through a freshly initialised module.
std::vector<int16_t> Processed(std::vector<int16_t> pcm, int channels, int rate,
                               int blockFrames = 576);

}  // namespace dsptest
