// The kav.ini section [estacao]: what a station left alone needs beyond the
// operator's settings. Read and written with the program's IniFile; every
// other section and key stays as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/IniFile.h"

namespace station {

constexpr const char* kSection = "estacao";

struct Settings {
    bool autoplay = false;         // autoplay: play the playlist at the end of start-up
    bool punctual = false;         // pontual: a time entry's first sound comes at its time
    int silenceSeconds = 20;       // silencio: dead air after this long below the level; 0: off
    double silenceDb = -50.0;      // silencio_db: the level, dB relative to full scale
    std::string alarm;             // alarme: the command run for every station event
    std::uint32_t positionMs = 0;  // posicao: how far the playlist's current file had played
    std::string file;              // ficheiro: that file
    bool asRunLog = true;          // registo: the as-run log, emissao/AAAA-MM-DD.csv
    int logDays = 400;             // dias_registo: log files older than this go at start; 0: kept
    bool nowPlayingFiles = true;   // agora: agora.json and agora.txt
    std::string onChange;          // ao_mudar: run with agora.json's path on every change
    bool mpris = true;             // mpris: desktop media control on the session bus
};

Settings ReadSettings(const win::IniFile& ini);

// What the program keeps up to date in the section (autoplay, posicao,
// ficheiro): the values for IniFile::WriteValues.
std::vector<win::IniValue> KeptValues(bool autoplay, std::uint32_t positionMs,
                                      const std::string& file);
// The value of pontual, as the menu item sets it.
win::IniValue PunctualValue(bool punctual);

}  // namespace station
