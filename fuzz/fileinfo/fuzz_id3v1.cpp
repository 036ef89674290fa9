// ID3v1 reader: the file's last 128 bytes, and the in-memory block.
#include "FuzzFile.h"
#include "ID3v1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TID3v1 tag;
    if (tag.LoadFromFile(kav_fuzz::WriteFuzzFile(data, size, ".mp3"))) {
        volatile size_t sink = tag.Title().size() + tag.Comment().size() + tag.GenreName().size();
        (void)sink;
    }
    if (size >= TID3v1::TagLength) {
        auto block = kav_fuzz::ExactCopy(data + size - TID3v1::TagLength, TID3v1::TagLength);
        TMP3TagInfo info;
        tag.ReadFromMemory(block.data(), info);
    }
    return 0;
}
