#include "StationEvents.h"

#include <algorithm>
#include <cstdio>

namespace station {
namespace {

std::string oneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

}  // namespace

std::string EventLine(std::time_t when, const std::string& name, const std::string& text) {
    char stamp[32] = "";
    if (const std::tm* local = std::localtime(&when))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
    return std::string(stamp) + " [estacao] " + name + ": " + oneLine(text);
}

void Events::Report(const std::string& name, const std::string& text) {
    const std::string line = EventLine(std::time(nullptr), name, text);
    if (sink_) {
        sink_(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    runner_.Run(alarm_, {name, oneLine(text)});
}

}  // namespace station
