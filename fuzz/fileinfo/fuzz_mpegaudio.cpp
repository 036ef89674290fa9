// MPEG audio reader: tags, frame search, VBR header and the derived figures.
#include "FuzzFile.h"
#include "MPEGaudio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMPEGaudio mpeg;
    mpeg.LoadFromFile(kav_fuzz::WriteFuzzFile(data, size, ".mp3"));
    volatile double sink = mpeg.Duration() + mpeg.BitRate() + mpeg.SampleRate() + mpeg.IsValid() +
                           mpeg.ChannelModeName().size();
    (void)sink;
    if (size > 0) {
        // The first byte picks the tag kind, the rest is the block.
        auto block = kav_fuzz::ExactCopy(data + 1, size - 1);
        TMP3TagInfo info;
        const uint16_t kind = data[0] % 4;
        if (kind != 1 || block.size() >= TID3v1::TagLength)
            mpeg.ReadTagFromMemory(block.data(), static_cast<int32_t>(block.size()), info, kind);
    }
    return 0;
}
