#include "tests/dsp/DspModule.h"

#include <algorithm>

#include "platform/win/DynLib.h"
#include "platform/winamp/DSP.h"
#include "tests/support/BinDir.h"

namespace dsptest {

DspModule::DspModule(const std::string& path) {
    const std::string file = path.empty() ? (TestBinDir() / "dsp_wd.dll").string() : path;
    library_ = win::LoadLibrary(file);
    if (!library_) return;
    auto entry = reinterpret_cast<winampDSPGetHeader2Func>(
        win::GetProcAddress(library_, "winampDSPGetHeader2"));
    winampDSPHeader* header = entry ? entry() : nullptr;
    winampDSPModule* module = header ? header->getModule(0) : nullptr;
    if (module && module->Init(module) == 0) module_ = module;
}

DspModule::~DspModule() {
    if (module_) module_->Quit(module_);
    if (library_) win::FreeLibrary(library_);
}

void DspModule::Process(std::vector<int16_t>& pcm, int channels, int rate, int blockFrames) {
    const int frames = int(pcm.size() / channels);
    const int block = blockFrames > 0 ? blockFrames : frames;
    for (int at = 0; at < frames; at += block) {
        const int n = std::min(block, frames - at);
        module_->ModifySamples(module_, pcm.data() + size_t(at) * channels, n, 16, channels, rate);
    }
}

std::vector<int16_t> Processed(std::vector<int16_t> pcm, int channels, int rate, int blockFrames) {
    DspModule module;
    if (module.Ready()) module.Process(pcm, channels, rate, blockFrames);
    return pcm;
}

}  // namespace dsptest
