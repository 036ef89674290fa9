#include "MPEGaudio.h"

#include <algorithm>
#include <cstring>

#include "FileReader.h"
#include "TextUtil.h"

using namespace fileinfo_detail;

namespace {

// kbit/s by version, layer and bit-rate index; MPEG 2 rows serve MPEG 2.5.
constexpr uint16_t BitRates[4][4][16] = {
    // MPEG 2.5
    {{0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    // reserved
    {{0}, {0}, {0}, {0}},
    // MPEG 2
    {{0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    // MPEG 1
    {{0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}}};

constexpr uint16_t SampleRates[4][4] = {
    {11025, 12000, 8000, 0}, {0, 0, 0, 0}, {22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};

constexpr const char* ChannelModes[5] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono",
                                         "Unknown"};

uint16_t TableBitRate(const FrameInfo& f) {
    return BitRates[f.VersionIndex & 3][f.LayerIndex & 3][f.BitRateIndex & 15];
}

uint16_t TableSampleRate(const FrameInfo& f) {
    return SampleRates[f.VersionIndex & 3][f.SampleRateIndex & 3];
}

int Coefficient(const FrameInfo& f) {
    if (f.VersionIndex == MPEG_VERSION_1) return f.LayerIndex == MPEG_LAYER_I ? 48 : 144;
    if (f.LayerIndex == MPEG_LAYER_I) return 24;
    if (f.LayerIndex == MPEG_LAYER_II) return 144;
    return 72;
}

int PaddingSize(const FrameInfo& f) {
    if (!f.Padded) return 0;
    return f.LayerIndex == MPEG_LAYER_I ? 4 : 1;
}

int VBRHeaderOffset(const FrameInfo& f) {
    const bool mono = f.ModeIndex == 3;
    if (f.VersionIndex == MPEG_VERSION_1) return mono ? 21 : 36;
    return mono ? 13 : 21;
}

bool IsFrameHeader(const uint8_t* b) {
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && ((b[1] >> 3) & 3) != 1 &&
           ((b[1] >> 1) & 3) != 0 && (b[2] >> 4) != 15 && (b[2] >> 4) != 0 &&
           ((b[2] >> 2) & 3) != 3 && (b[3] & 3) != 2;
}

void DecodeHeader(const uint8_t* b, FrameInfo& f) {
    std::memcpy(f.HeaderBytes.data(), b, 4);
    f.VersionIndex = (b[1] >> 3) & 3;
    f.LayerIndex = (b[1] >> 1) & 3;
    f.CRCProtected = (b[1] & 1) == 0;
    f.BitRateIndex = b[2] >> 4;
    f.SampleRateIndex = (b[2] >> 2) & 3;
    f.Padded = (b[2] & 2) != 0;
    f.Private = (b[2] & 1) != 0;
    f.ModeIndex = b[3] >> 6;
    f.ModeExtension = (b[3] >> 4) & 3;
    f.Copyrighted = (b[3] & 8) != 0;
    f.IsOriginal = (b[3] & 4) != 0;
    f.EmphasisIndex = b[3] & 3;
}

uint16_t FrameLength(const FrameInfo& f) {
    const int64_t bits = static_cast<int64_t>(Coefficient(f)) * TableBitRate(f) * 1000;
    return static_cast<uint16_t>(bits / TableSampleRate(f) + PaddingSize(f));
}

int32_t BE32Signed(const uint8_t* p) {
    return static_cast<int32_t>(GetBE32(p));
}

void ReadVBR(const uint8_t* o, VBRData& vbr) {
    if (std::memcmp(o, "Xing", 4) == 0) {
        vbr.Present = true;
        vbr.Signature = "Xing";
        vbr.FrameCount = BE32Signed(o + 8);
        vbr.ByteCount = BE32Signed(o + 12);
        vbr.Quality = o[119];
        vbr.EncoderText.assign(reinterpret_cast<const char*>(o + 120), 8);
    } else if (std::memcmp(o, "VBRI", 4) == 0) {
        vbr.Present = true;
        vbr.Signature = "VBRI";
        vbr.Quality = o[9];
        vbr.ByteCount = BE32Signed(o + 10);
        vbr.FrameCount = BE32Signed(o + 14);
    }
}

}  // namespace

void TMPEGaudio::FindFrame(const uint8_t* Data, FrameInfo& Frame, VBRData& VBR) {
    Frame = FrameInfo{};
    VBR = VBRData{};
    for (int i = 0; i < SearchPositions; ++i) {
        if (!IsFrameHeader(Data + i)) continue;
        DecodeHeader(Data + i, Frame);
        const int length = FrameLength(Frame);
        // The next header must lie wholly inside the buffer.
        if (i + length + 4 > SearchBufferSize || !IsFrameHeader(Data + i + length)) continue;
        Frame.Present = true;
        Frame.Position = i;
        Frame.Length = static_cast<uint16_t>(length);
        Frame.ZeroSideInfo =
            std::all_of(Data + i + 4, Data + i + 10, [](uint8_t b) { return b == 0; });
        ReadVBR(Data + i + VBRHeaderOffset(Frame), VBR);
        return;
    }
    // Nothing accepted: all zero, as at the start.
    Frame = FrameInfo{};
}

void TMPEGaudio::Clear() {
    FFileSize = 0;
    FVBR = VBRData{};
    FFrame = FrameInfo{};
    FFrame.VersionIndex = MPEG_VERSION_UNKNOWN;
    FFrame.SampleRateIndex = 3;
    FFrame.ModeIndex = 4;
    FFrame.ModeExtension = 4;
    FFrame.EmphasisIndex = 2;
    FID3v1.Clear();
    FID3v2.Clear();
}

bool TMPEGaudio::LoadFromFile(const std::string& FileName) {
    Clear();
    FileReader file;
    const bool result = file.Open(FileName) && FID3v2.LoadFromReader(file) &&
                        FID3v1.LoadFromReader(file) && FindFirstFrame(file);
    if (!FFrame.Present) Clear();
    return result;
}

// The first frame after the ID3v2 tag, else one in the middle of the file;
// false when a position could not be taken. The first search looks at the
// bytes where they lie in the reader's block when the file has them all.
bool TMPEGaudio::FindFirstFrame(FileReader& file) {
    FFileSize = static_cast<int32_t>(file.Size());
    const int64_t tagSize = FID3v2.TagSize();
    if (!file.Seek(tagSize)) return false;
    uint8_t buffer[SearchBufferSize];
    const uint8_t* data = buffer;
    const std::span<const uint8_t> view = file.View(tagSize, SearchBufferSize);
    if (view.size() == SearchBufferSize) {
        data = view.data();
    } else {
        std::memset(buffer, 0, sizeof buffer);
        if (file.ReadAt(tagSize, buffer, SearchBufferSize) != SearchBufferSize) {
            FindFrame(buffer, FFrame, FVBR);
            return true;
        }
    }
    FindFrame(data, FFrame, FVBR);
    if (FFrame.Present) return true;
    // Bytes the second read does not deliver keep what the first one left.
    if (data != buffer) std::memcpy(buffer, data, SearchBufferSize);
    file.ReadAtOnce((file.Size() - tagSize) / 2, buffer, SearchBufferSize);
    FindFrame(buffer, FFrame, FVBR);
    return true;
}

bool TMPEGaudio::ReadTagFromMemory(const void* Data, int32_t Limit, TMP3TagInfo& Info,
                                   uint16_t Kind) {
    if (Kind == 1) return FID3v1.ReadFromMemory(Data, Info);
    if (Kind == 2) return FID3v2.ReadFromMemory(Data, Limit, Info);
    return false;
}

uint16_t TMPEGaudio::BitRate() const {
    if (FVBR.Present && FVBR.FrameCount > 0) {
        const double perFrame = static_cast<double>(FVBR.ByteCount) / FVBR.FrameCount;
        const double kbps =
            (perFrame - PaddingSize(FFrame)) * TableSampleRate(FFrame) / Coefficient(FFrame) / 1000;
        return static_cast<uint16_t>(RoundHalfEven(kbps));
    }
    return TableBitRate(FFrame);
}

uint16_t TMPEGaudio::SampleRate() const {
    return TableSampleRate(FFrame);
}

std::string TMPEGaudio::ChannelModeName() const {
    return ChannelModes[FFrame.ModeIndex <= 4 ? FFrame.ModeIndex : 4];
}

double TMPEGaudio::Duration() const {
    if (!FFrame.Present) return 0;
    const uint16_t sampleRate = TableSampleRate(FFrame);
    if (FVBR.Present && FVBR.FrameCount > 0)
        return static_cast<double>(Coefficient(FFrame)) * FVBR.FrameCount * 8 / sampleRate;
    const double audioBytes = static_cast<double>(FFileSize) - FID3v2.TagSize() -
                              (FID3v1.Present() ? 128 : 0) - FFrame.Position;
    return audioBytes / TableBitRate(FFrame) / 1000 * 8;
}

bool TMPEGaudio::IsValid() const {
    const uint16_t bitRate = BitRate();
    return FFrame.Present && bitRate >= 8 && bitRate <= 448 && Duration() >= 0.1;
}
