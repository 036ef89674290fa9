// The stream parameters that the output emulator reports to the engine, shared
// by the emulator and the plug-in manager without either including the other.
#pragma once

#include <cstdint>

// Each notification carries its own copy (ioplug::Unpack); the handler's
// pointer is to that copy.
struct TChannelInfo {
    uint16_t BitsPerSample = 0;
    int32_t BitRate = 0;     // kbit/s
    int32_t SampleRate = 0;  // Hz at the start of output, as SetInfo gives it after (kHz)
    uint16_t Channels = 0;
};
using PChannelInfo = TChannelInfo*;
