// ID3v2 reader: the frame walk over a file and over a block in memory.
#include "FuzzFile.h"
#include "ID3v2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TID3v2 tag;
    tag.LoadFromFile(kav_fuzz::WriteFuzzFile(data, size, ".mp3"));
    volatile size_t sink = tag.Title().size() + tag.Comment().size() + tag.Link().size();
    (void)sink;
    auto block = kav_fuzz::ExactCopy(data, size);
    TMP3TagInfo info;
    tag.ReadFromMemory(block.data(), static_cast<int32_t>(size), info);
    return 0;
}
