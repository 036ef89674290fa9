#include "OnAirSettings.h"

#include <algorithm>
#include <cstdlib>

namespace onair {

namespace {

std::string trimmed(std::string s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), blank));
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

}  // namespace

std::string SectionName(int number) {
    return "transmissao" + std::to_string(number);
}

const char* FormatName(Format format) {
    switch (format) {
        case Format::Vorbis:
            return "ogg";
        case Format::Opus:
            return "opus";
        case Format::Mp3:
            break;
    }
    return "mp3";
}

Format ParseFormat(const std::string& name) {
    const std::string n = lower(trimmed(name));
    if (n == "ogg" || n == "vorbis") return Format::Vorbis;
    if (n == "opus") return Format::Opus;
    return Format::Mp3;
}

// The rates each encoder is offered at: the MP3 encoder takes only the
// standard ones; Vorbis at 44.1 kHz stereo needs 45 kbit/s at least.
const std::vector<int>& BitRates(Format format) {
    static const std::vector<int> mp3 = {32,  40,  48,  56,  64,  80,  96,
                                         112, 128, 160, 192, 224, 256, 320};
    static const std::vector<int> vorbis = {48, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const std::vector<int> opus = {16, 24, 32, 48, 64, 80, 96, 112, 128, 160, 192, 256};
    return format == Format::Mp3 ? mp3 : format == Format::Vorbis ? vorbis : opus;
}

int NearestBitRate(Format format, int kbps) {
    const std::vector<int>& rates = BitRates(format);
    return *std::min_element(rates.begin(), rates.end(), [kbps](int a, int b) {
        return std::abs(a - kbps) < std::abs(b - kbps);
    });
}

OutputSettings ReadOutput(const win::IniFile& ini, int number) {
    const std::string section = SectionName(number);
    OutputSettings s;
    s.active = ini.ReadBool(section, "ativo", s.active);
    s.server = trimmed(ini.ReadString(section, "servidor", ""));
    s.port = ini.ReadInteger(section, "porta", s.port);
    if (s.port < 1 || s.port > 65535) s.port = 8000;
    s.mount = trimmed(ini.ReadString(section, "ponto", s.mount));
    if (s.mount.empty() || s.mount.front() != '/') s.mount.insert(0, "/");
    s.user = ini.ReadString(section, "utilizador", s.user);
    if (s.user.empty()) s.user = "source";
    s.password = ini.ReadString(section, "senha", "");
    s.format = ParseFormat(ini.ReadString(section, "formato", "mp3"));
    s.kbps = NearestBitRate(s.format, ini.ReadInteger(section, "kbps", s.kbps));
    s.name = ini.ReadString(section, "nome", "");
    s.genre = ini.ReadString(section, "genero", "");
    s.description = ini.ReadString(section, "descricao", "");
    s.url = ini.ReadString(section, "url", "");
    s.listed = ini.ReadBool(section, "publico", s.listed);
    return s;
}

AllSettings ReadAll(const win::IniFile& ini) {
    AllSettings all;
    for (int n = 1; n <= kOutputs; ++n) all[size_t(n - 1)] = ReadOutput(ini, n);
    return all;
}

std::vector<win::IniValue> OutputValues(int number, const OutputSettings& s) {
    const std::string section = SectionName(number);
    auto value = [&section](const char* key, std::string v) {
        return win::IniValue{section, key, std::move(v)};
    };
    return {value("ativo", s.active ? "1" : "0"),
            value("servidor", s.server),
            value("porta", std::to_string(s.port)),
            value("ponto", s.mount),
            value("utilizador", s.user),
            value("senha", s.password),
            value("formato", FormatName(s.format)),
            value("kbps", std::to_string(s.kbps)),
            value("nome", s.name),
            value("genero", s.genre),
            value("descricao", s.description),
            value("url", s.url),
            value("publico", s.listed ? "1" : "0")};
}

bool HoldsPassword(const AllSettings& all) {
    return std::any_of(all.begin(), all.end(),
                       [](const OutputSettings& s) { return !s.password.empty(); });
}

}  // namespace onair
