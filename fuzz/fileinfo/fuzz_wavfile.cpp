// WAV reader: the 44-byte header.
#include "FuzzFile.h"
#include "WAVfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TWAVfile wav;
    if (wav.LoadFromFile(kav_fuzz::WriteFuzzFile(data, size, ".wav"))) {
        volatile double sink = wav.Duration() + wav.FileSize();
        (void)sink;
    }
    return 0;
}
