// What the engine knows of the opened file or address: its own header, so
// that the automation reads it without the plug-in manager.
#pragma once

#include <cstdint>
#include <string>

// Stream information of the opened file or address.
struct TStreamInfo {
    std::string FileName;
    uint32_t FileSize = 0;
    int32_t SampleRate = 0;
    int32_t BitRate = 0;  // kbit/s
    uint16_t BitsPerSample = 0;
    uint32_t Duration = 0;  // ms
    uint16_t Channels = 0;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    uint8_t GenreID = 0;
    uint8_t Track = 0;
    std::string Comment;
};
