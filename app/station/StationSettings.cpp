#include "StationSettings.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace station {
namespace {

// A decimal number ("-50", "-47.5"); anything else gives the default.
double readNumber(const win::IniFile& ini, const char* key, double defaultValue) {
    const std::string text = ini.ReadString(kSection, key, "");
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return defaultValue;
    return value;
}

}  // namespace

Settings ReadSettings(const win::IniFile& ini) {
    Settings s;
    s.autoplay = ini.ReadBool(kSection, "autoplay", s.autoplay);
    s.punctual = ini.ReadBool(kSection, "pontual", s.punctual);
    s.silenceSeconds = ini.ReadInteger(kSection, "silencio", s.silenceSeconds);
    if (s.silenceSeconds < 0) s.silenceSeconds = 0;
    s.silenceDb = readNumber(ini, "silencio_db", s.silenceDb);
    s.alarm = ini.ReadString(kSection, "alarme", "");
    const int position = ini.ReadInteger(kSection, "posicao", 0);
    s.positionMs = position > 0 ? std::uint32_t(position) : 0;
    s.file = ini.ReadString(kSection, "ficheiro", "");
    s.asRunLog = ini.ReadBool(kSection, "registo", s.asRunLog);
    s.logDays = std::max(0, ini.ReadInteger(kSection, "dias_registo", s.logDays));
    s.nowPlayingFiles = ini.ReadBool(kSection, "agora", s.nowPlayingFiles);
    s.onChange = ini.ReadString(kSection, "ao_mudar", "");
    s.mpris = ini.ReadBool(kSection, "mpris", s.mpris);
    return s;
}

std::vector<win::IniValue> KeptValues(bool autoplay, std::uint32_t positionMs,
                                      const std::string& file) {
    return {{kSection, "autoplay", autoplay ? "1" : "0"},
            {kSection, "posicao", std::to_string(positionMs)},
            {kSection, "ficheiro", file}};
}

win::IniValue PunctualValue(bool punctual) {
    return {kSection, "pontual", punctual ? "1" : "0"};
}

}  // namespace station
