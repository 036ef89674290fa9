// The player's reading of stream metadata: ICY titles, Ogg comment lists
// (read as a list and as a single string), tag-list searches and icy-br.
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/StreamText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A list ends with two NULs; the copy guarantees them whatever the input.
    std::vector<char> list(data, data + size);
    list.push_back('\0');
    list.push_back('\0');
    const std::string text(list.data());
    if (kav::MetaTitleFromData(list.data(), true).size() > 255) std::abort();
    if (kav::MetaTitleFromData(list.data(), false).size() > 255) std::abort();
    volatile size_t sink = kav::StreamTitleOf(text).size() +
                           kav::FindTagString(list.data(), "TITLE=").size() +
                           kav::FindTagString(list.data(), "", 64).size();
    (void)sink;
    volatile int32_t rate = kav::IcyBitRate(text);
    (void)rate;
    return 0;
}
