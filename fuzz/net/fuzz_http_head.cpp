// The response header block of an HTTP or ICY server: where it ends and what
// it says. A block is found the same however it arrives.
#include <cstdlib>
#include <string>

#include "HttpParse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    size_t bodyAt = 0;
    const kavbass::HeadScan whole = kavbass::scanHead(raw, bodyAt);
    // Byte by byte: the first prefix that decides decides as the whole does.
    for (size_t n = 0; n <= raw.size(); ++n) {
        size_t at = 0;
        const kavbass::HeadScan part = kavbass::scanHead(raw.substr(0, n), at);
        if (part == kavbass::HeadScan::NeedMore) continue;
        if (part != whole || (part == kavbass::HeadScan::Complete && at != bodyAt)) std::abort();
        break;
    }
    if (whole == kavbass::HeadScan::Complete) {
        if (bodyAt > raw.size()) std::abort();
        kavbass::HttpHead head;
        if (kavbass::parseHead(raw.substr(0, bodyAt), head)) {
            if (head.headerList.empty() || head.headerList.back() != '\0') std::abort();
            if (head.chunked && head.contentLength != -1) std::abort();
        }
    }
    return 0;
}
