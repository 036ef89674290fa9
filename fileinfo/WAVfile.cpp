#include "WAVfile.h"

#include <cstring>

#include "FileReader.h"

using namespace fileinfo_detail;

namespace {
constexpr std::size_t HeaderLength = 44;
}

void TWAVfile::Clear() {
    FValid = false;
    FChannels = 0;
    FSampleRate = 0;
    FBitsPerSample = 0;
    FFileSize = 0;
}

bool TWAVfile::LoadFromFile(const std::string& FileName) {
    Clear();
    FileReader file;
    uint8_t h[HeaderLength] = {};
    // The header is all that is read: no block read ahead for it.
    if (!file.Open(FileName) || file.ReadAtOnce(0, h, HeaderLength) < HeaderLength) return false;
    file.Close();
    const uint16_t channels = GetLE16(h + 22);
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0 ||
        std::memcmp(h + 12, "fmt ", 4) != 0 || (channels != 1 && channels != 2))
        return true;

    FValid = true;
    FChannels = h[22];
    FSampleRate = static_cast<uint16_t>(GetLE32(h + 24));
    FBitsPerSample = h[34];
    FFileSize = static_cast<int32_t>(GetLE32(h + 4) + 8u);
    return true;
}

double TWAVfile::Duration() const {
    if (!FValid || FSampleRate == 0 || FBitsPerSample == 0) return 0;
    return (static_cast<double>(FFileSize) - 44) * 8 / FSampleRate / FBitsPerSample / FChannels;
}
