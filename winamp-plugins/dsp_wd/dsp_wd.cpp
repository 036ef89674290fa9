// The compressor DSP plug-in: one module, "Compressor", that levels 16-bit
// PCM in place (see Design.h for the chain and its figures). Each
// initialised module owns its chain; Quit frees it.
#include <new>

#include "Design.h"
#include "Leveller.h"
#include "platform/winamp/DSP.h"

namespace {

char kHeaderText[] = "KAV broadcast leveller";
char kModuleText[] = "Compressor";

dspwd::Chain* ChainOf(winampDSPModule* module) {
    return static_cast<dspwd::Chain*>(module->userData);
}

void Config(winampDSPModule*) {}

int Init(winampDSPModule* module) {
    delete ChainOf(module);
    module->userData = new (std::nothrow) dspwd::Chain;
    return module->userData ? 0 : 1;
}

int ModifySamples(winampDSPModule* module, short int* samples, int numsamples, int bps, int nch,
                  int srate) {
    dspwd::Chain* chain = ChainOf(module);
    const bool usable = chain && samples && numsamples > 0 && bps == 16 && nch >= 1 &&
                        nch <= dspwd::kMaxChannels && srate > 0 && srate <= dspwd::kMaxSampleRate;
    if (usable) chain->Process(samples, numsamples, nch, srate);
    return numsamples;
}

void Quit(winampDSPModule* module) {
    delete ChainOf(module);
    module->userData = nullptr;
}

winampDSPModule compressorModule = {kModuleText, nullptr,       nullptr, Config,
                                    Init,        ModifySamples, Quit,    nullptr};

winampDSPModule* GetModule(int which) {
    return which == 0 ? &compressorModule : nullptr;
}

winampDSPHeader header = {DSP_HDRVER, kHeaderText, GetModule};

}  // namespace

KAV_WINAMP_EXPORT winampDSPHeader* winampDSPGetHeader2() {
    return &header;
}
