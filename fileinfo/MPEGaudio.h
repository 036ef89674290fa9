#pragma once
// TMPEGaudio: the first real audio frame of an MPEG audio file (MPEG 1, 2,
// 2.5, layers I to III), its Xing or VBRI header, and the file's two tags.

#include <array>
#include <cstdint>
#include <string>

#include "ID3v1.h"
#include "ID3v2.h"

// The first valid frame.
struct FrameInfo {
    bool Present = false;
    int32_t Position = 0;  // offset in the buffer in which it was found
    uint16_t Length = 0;
    bool ZeroSideInfo = false;
    std::array<uint8_t, 4> HeaderBytes{};
    uint8_t VersionIndex = 0;  // 0 MPEG 2.5, 1 reserved, 2 MPEG 2, 3 MPEG 1
    uint8_t LayerIndex = 0;    // 0 reserved, 1 layer III, 2 layer II, 3 layer I
    bool CRCProtected = false;
    uint16_t BitRateIndex = 0;
    uint16_t SampleRateIndex = 0;
    bool Padded = false;
    bool Private = false;
    uint8_t ModeIndex = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    uint8_t ModeExtension = 0;
    bool Copyrighted = false;
    bool IsOriginal = false;
    uint8_t EmphasisIndex = 0;
};

// The variable-bit-rate header of the first frame.
struct VBRData {
    bool Present = false;
    std::string Signature;  // "Xing" or "VBRI"; empty when none
    int32_t FrameCount = 0;
    int32_t ByteCount = 0;
    uint8_t Quality = 0;
    std::string EncoderText;
};

// MPEG versions and layers as FrameInfo indexes them.
constexpr uint8_t MPEG_VERSION_2_5 = 0;
constexpr uint8_t MPEG_VERSION_UNKNOWN = 1;
constexpr uint8_t MPEG_VERSION_2 = 2;
constexpr uint8_t MPEG_VERSION_1 = 3;
constexpr uint8_t MPEG_LAYER_UNKNOWN = 0;
constexpr uint8_t MPEG_LAYER_III = 1;
constexpr uint8_t MPEG_LAYER_II = 2;
constexpr uint8_t MPEG_LAYER_I = 3;

class TMPEGaudio {
  public:
    // Size of each search buffer; frames are looked for at its first 1730 positions.
    static constexpr int SearchBufferSize = 3458;
    static constexpr int SearchPositions = 1730;

    TMPEGaudio() { Clear(); }

    // Cleared state, both tag readers included.
    void Clear();
    // Reads both tags, the file size and the first valid frame. True when the
    // file could be read; the audio result is judged by IsValid().
    bool LoadFromFile(const std::string& FileName);
    // Kind 1: ID3v1 block (TID3v1::ReadFromMemory); Kind 2: ID3v2 block
    // (TID3v2::ReadFromMemory with Limit); any other Kind reads nothing: false.
    bool ReadTagFromMemory(const void* Data, int32_t Limit, TMP3TagInfo& Info, uint16_t Kind);

    uint16_t BitRate() const;     // kbit/s
    uint16_t SampleRate() const;  // Hz
    std::string ChannelModeName() const;
    double Duration() const;  // seconds
    bool IsValid() const;

    int32_t FileSize() const { return FFileSize; }
    const VBRData& VBR() const { return FVBR; }
    const FrameInfo& Frame() const { return FFrame; }
    const TID3v1& ID3v1() const { return FID3v1; }
    const TID3v2& ID3v2() const { return FID3v2; }

    // The frame search over one buffer of SearchBufferSize bytes.
    static void FindFrame(const uint8_t* Data, FrameInfo& Frame, VBRData& VBR);

  private:
    bool FindFirstFrame(fileinfo_detail::FileReader& file);

    int32_t FFileSize = 0;
    VBRData FVBR;
    FrameInfo FFrame;
    TID3v1 FID3v1;
    TID3v2 FID3v2;
};
