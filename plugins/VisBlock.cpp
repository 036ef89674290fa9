#include "plugins/VisBlock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vis {
namespace {

void PutInt(uint8_t* block, std::size_t offset, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) block[offset + i] = static_cast<uint8_t>(u >> (8 * i));
}

void WriteSpectrum(uint8_t* out, const float* fft, int stride, uint16_t scale) {
    for (int bin = 1; bin <= kBins; ++bin) out[bin - 1] = SpectrumByte(fft[bin * stride], scale);
}

void WriteWave(uint8_t* out, const int16_t* pcm, int stride) {
    for (int i = 0; i < kSamples; ++i) out[i] = static_cast<uint8_t>(WaveByte(pcm[i * stride]));
}

// The bin (counted from 1) with the largest byte; the first of equals.
int StrongestBin(const uint8_t* spectrum) {
    return static_cast<int>(std::max_element(spectrum, spectrum + kBins) - spectrum) + 1;
}

int LargestWave(const uint8_t* wave) {
    int largest = 0;
    for (int i = 0; i < 2 * kSamples; ++i)
        largest = std::max(largest, std::abs(static_cast<int>(static_cast<int8_t>(wave[i]))));
    return largest;
}

std::string Title(const uint8_t* block) {
    const char* text = reinterpret_cast<const char*>(block + 20);
    return std::string(text, strnlen(text, kTitleBytes));
}

}  // namespace

uint8_t SpectrumByte(float magnitude, uint16_t scale) {
    // Clamped before the conversion: a value out of range is undefined there.
    const double scaled =
        std::clamp(static_cast<double>(scale) * magnitude, -2147483648.0, 2147483647.0);
    return static_cast<uint8_t>(static_cast<int64_t>(std::trunc(scaled)) & 0xFF);
}

int8_t WaveByte(int16_t sample) {
    return static_cast<int8_t>(sample / 256);
}

void WriteFrame(uint8_t* block, const FrameSource& s, uint16_t scale) {
    PutInt(block, 0, s.sampleRate);
    PutInt(block, 4, s.channels);
    PutInt(block, 8, s.positionMs);
    const int fftStride = std::max(1, s.fftChannels);
    WriteSpectrum(block + kSpectrum1, s.fft, fftStride, scale);
    WriteSpectrum(block + kSpectrum2, fftStride >= 2 ? s.fft + 1 : s.fft, fftStride, scale);
    const int pcmStride = std::max(1, s.pcmChannels);
    WriteWave(block + kWave1, s.pcm, pcmStride);
    WriteWave(block + kWave2, pcmStride >= 2 ? s.pcm + 1 : s.pcm, pcmStride);
}

std::size_t WriteStateRecord(uint8_t* block, int32_t playState) {
    PutInt(block, 0, 1);
    PutInt(block, 4, playState);
    return kStateRecordSize;
}

std::size_t WriteStreamRecord(uint8_t* block, int32_t sampleRate, int32_t bitRate, int32_t channels,
                              int32_t durationMs, const std::string& title) {
    PutInt(block, 0, 2);
    PutInt(block, 4, sampleRate);
    PutInt(block, 8, bitRate);
    PutInt(block, 12, channels);
    PutInt(block, 16, durationMs);
    std::memset(block + 20, 0, kTitleBytes);
    std::memcpy(block + 20, title.data(), std::min(title.size(), kTitleBytes - 1));
    return kStreamRecordSize;
}

std::size_t WriteSyncRecord(uint8_t* block, bool sync) {
    PutInt(block, 0, 3);
    PutInt(block, 4, sync ? 1 : 0);
    return kSyncRecordSize;
}

int32_t ReadInt(const uint8_t* block, std::size_t offset) {
    uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | block[offset + i];
    return static_cast<int32_t>(u);
}

std::string Describe(const uint8_t* b, std::uintptr_t what, std::intptr_t bytes) {
    auto n = [&](std::size_t offset) { return std::to_string(ReadInt(b, offset)); };
    if (what == kFrameWritten && bytes == static_cast<std::intptr_t>(kBlockSize))
        return "frame rate=" + n(0) + " channels=" + n(4) + " pos=" + n(8) +
               " bin1=" + std::to_string(StrongestBin(b + kSpectrum1)) +
               " bin2=" + std::to_string(StrongestBin(b + kSpectrum2)) +
               " wave=" + std::to_string(LargestWave(b + kWave1));
    if (what != kRecordWritten || bytes < 8 || bytes > static_cast<std::intptr_t>(kBlockSize))
        return {};
    const int32_t type = ReadInt(b, 0);
    if (type == 1 && bytes == static_cast<std::intptr_t>(kStateRecordSize))
        return "record 1 state=" + n(4);
    if (type == 3 && bytes == static_cast<std::intptr_t>(kSyncRecordSize))
        return "record 3 sync=" + n(4);
    if (type == 2 && bytes == static_cast<std::intptr_t>(kStreamRecordSize))
        return "record 2 rate=" + n(4) + " kbps=" + n(8) + " channels=" + n(12) + " ms=" + n(16) +
               " title=" + Title(b);
    return {};
}

}  // namespace vis
