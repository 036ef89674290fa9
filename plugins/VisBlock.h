// The layout of the visualisation block: what the player writes (a data
// frame or an info record, little-endian 32-bit integers) and what a
// visualiser reads back. docs/visualisation-link.md describes it in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vis {

constexpr std::size_t kBlockSize = 2316;
constexpr int kBins = 576;     // spectrum bytes per channel (FFT bins 1..576)
constexpr int kSamples = 576;  // waveform bytes per channel

// Notifications (the wParam of "WM_SendingData" from the player).
constexpr std::uintptr_t kFrameWritten = 10;   // lParam kBlockSize
constexpr std::uintptr_t kRecordWritten = 80;  // lParam the record's size
// Requests (the wParam of "WM_SendingData" to the player).
constexpr std::uintptr_t kAttach = '<';  // lParam not 0
constexpr std::uintptr_t kDetach = 'F';
constexpr std::uintptr_t kAskRecord = 'Z';  // lParam 1, 2 or 3

constexpr std::size_t kSpectrum1 = 12, kSpectrum2 = 588, kWave1 = 1164, kWave2 = 1740;
constexpr std::size_t kStateRecordSize = 8, kStreamRecordSize = 276, kSyncRecordSize = 8;
constexpr std::size_t kTitleBytes = 256;

// The low 8 bits of the integer part of scale x magnitude.
uint8_t SpectrumByte(float magnitude, uint16_t scale);
// sample / 256, truncated towards zero.
int8_t WaveByte(int16_t sample);

// The frame's sound data as read from the channel: `fft` holds 1024
// magnitudes per channel, fftChannels of them interleaved; `pcm` holds
// kSamples frames of pcmChannels interleaved samples. The first two
// channels are used.
struct FrameSource {
    int32_t sampleRate = 0, channels = 0, positionMs = 0;
    const float* fft = nullptr;
    int fftChannels = 1;
    const int16_t* pcm = nullptr;
    int pcmChannels = 1;
};
// Writes a whole frame; a mono source is written to both channels' places.
void WriteFrame(uint8_t* block, const FrameSource& source, uint16_t scale);

// Records; each returns its size.
std::size_t WriteStateRecord(uint8_t* block, int32_t playState);
std::size_t WriteStreamRecord(uint8_t* block, int32_t sampleRate, int32_t bitRate, int32_t channels,
                              int32_t durationMs, const std::string& title);
std::size_t WriteSyncRecord(uint8_t* block, bool sync);

int32_t ReadInt(const uint8_t* block, std::size_t offset);

// One line describing a frame or record, as the visualiser's dump prints it:
// "frame rate=R channels=C pos=MS bin1=B bin2=B wave=P", "record 1 state=S",
// "record 2 rate=R kbps=K channels=C ms=D title=T", "record 3 sync=V".
// Empty for a notification that does not fit the block.
std::string Describe(const uint8_t* block, std::uintptr_t what, std::intptr_t bytes);

}  // namespace vis
