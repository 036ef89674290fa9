#include "NowPlaying.h"

#include <chrono>

namespace nowplaying {

std::int64_t WallClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

const char* ResultName(Result result) {
    switch (result) {
        case Result::Complete:
            return "completo";
        case Result::Cut:
            return "cortado";
        case Result::Failed:
            return "falhou";
        case Result::Interrupted:
            return "interrompido";
    }
    return "";
}

std::string DisplayText(const Item& item) {
    if (!item.artist.empty() && !item.title.empty()) return item.artist + " - " + item.title;
    if (!item.title.empty()) return item.title;
    if (!item.artist.empty()) return item.artist;
    const std::string::size_type slash = item.file.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == item.file.size()) return item.file;
    return item.file.substr(slash + 1);
}

}  // namespace nowplaying
