// The stream outputs' settings: kav.ini sections [transmissao1] to
// [transmissao4], one per output. Read and written with the program's
// IniFile; every other section and key stays as it is.
//
// Plain data; any thread.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/win/IniFile.h"

namespace onair {

constexpr int kOutputs = 4;

// The formats an output sends, as "formato" names them.
enum class Format { Mp3, Vorbis, Opus };

struct OutputSettings {
    bool active = true;           // ativo
    std::string server;           // servidor: host name or address; empty: the output is off
    int port = 8000;              // porta
    std::string mount = "/kav";   // ponto
    std::string user = "source";  // utilizador
    std::string password;         // senha
    Format format = Format::Mp3;  // formato: mp3, ogg (Vorbis) or opus
    int kbps = 128;               // kbps
    std::string name;             // nome
    std::string genre;            // genero
    std::string description;      // descricao
    std::string url;              // url
    bool listed = false;          // publico: listed in the server's directory

    // Whether the output runs: active and with a server.
    bool On() const { return active && !server.empty(); }
    bool operator==(const OutputSettings&) const = default;
};

using AllSettings = std::array<OutputSettings, kOutputs>;

// "transmissao1" .. "transmissao4" for number 1 .. 4.
std::string SectionName(int number);
// "mp3", "ogg", "opus"; and back (unknown names give mp3).
const char* FormatName(Format format);
Format ParseFormat(const std::string& name);

// Values out of range are brought into it: a port from 1 to 65535, a mount
// that begins with "/", a bit rate the format's encoder takes.
OutputSettings ReadOutput(const win::IniFile& ini, int number);
AllSettings ReadAll(const win::IniFile& ini);
// Every key of the output's section, for IniFile::WriteValues.
std::vector<win::IniValue> OutputValues(int number, const OutputSettings& s);
// Whether any output keeps a password (the file is then kept private).
bool HoldsPassword(const AllSettings& all);

// The bit rates offered for a format, and the one nearest kbps among them.
const std::vector<int>& BitRates(Format format);
int NearestBitRate(Format format, int kbps);

}  // namespace onair
