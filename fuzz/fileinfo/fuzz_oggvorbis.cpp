// Ogg Vorbis reader: pages, identification and comment headers, last page.
#include "FuzzFile.h"
#include "OggVorbis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TOggVorbis ogg;
    if (ogg.LoadFromFile(kav_fuzz::WriteFuzzFile(data, size, ".ogg"))) {
        volatile double sink = ogg.Duration() + ogg.BitRate() + ogg.IsValid() + ogg.Title().size() +
                               ogg.Vendor().size();
        (void)sink;
    }
    return 0;
}
