#include "winamp-plugins/in_wave/WavDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace inwave {

namespace {

std::int16_t clip16(std::int64_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

std::int32_t signedLe(const unsigned char* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    v <<= 8 * (4 - bytes);  // sign in the top bit
    return static_cast<std::int32_t>(v);
}

// A 32-bit left-aligned sample to 16 bits, rounded half up.
std::int16_t narrow(std::int32_t v) {
    return clip16((static_cast<std::int64_t>(v) + 32768) >> 16);
}

std::int16_t fromFloat(const unsigned char* p) {
    float f;
    std::uint32_t bits = static_cast<std::uint32_t>(signedLe(p, 4));
    std::memcpy(&f, &bits, sizeof f);
    if (!std::isfinite(f)) return 0;
    return clip16(std::lround(static_cast<double>(f) * 32768.0));
}

}  // namespace

void toInt16(const unsigned char* in, std::size_t count, const WavLayout& layout,
             std::int16_t* out) {
    const int bytes = layout.bits / 8;
    for (std::size_t i = 0; i < count; ++i, in += bytes) {
        if (layout.kind == SampleKind::Float) {
            out[i] = fromFloat(in);
        } else if (bytes == 2) {
            out[i] = static_cast<std::int16_t>(signedLe(in, 2) >> 16);
        } else {
            out[i] = narrow(signedLe(in, bytes));
        }
    }
}

std::unique_ptr<WavDecoder> WavDecoder::open(const std::string& path) {
    auto file = std::make_unique<inplug::RegularFile>(path);
    if (!file->isOpen()) return nullptr;
    const auto layout = readWavLayout(*file);
    if (!layout) return nullptr;
    return std::unique_ptr<WavDecoder>(new WavDecoder(std::move(file), *layout));
}

inplug::StreamFormat WavDecoder::format() const {
    inplug::StreamFormat f;
    f.rate = layout_.rate;
    f.channels = layout_.channels;
    f.bits = layout_.bits == 8 ? 8 : 16;
    f.bitrateKbps = layout_.rate * layout_.channels * layout_.bits / 1000;
    f.lengthMs = static_cast<int>(std::min<std::uint64_t>(
        layout_.frames * 1000 / static_cast<std::uint64_t>(layout_.rate), INT32_MAX));
    return f;
}

int WavDecoder::read(unsigned char* out, int frames) {
    const std::uint64_t left = layout_.frames - frame_;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, frames));
    const std::size_t bytes = want * static_cast<std::size_t>(layout_.blockAlign);
    raw_.resize(bytes);
    const std::size_t got =
        file_->readAt(layout_.dataOffset + frame_ * layout_.blockAlign, raw_.data(), bytes);
    const std::size_t whole = got / static_cast<std::size_t>(layout_.blockAlign);
    frame_ += whole;
    if (whole < want) frame_ = layout_.frames;  // the file shrank: end here
    const std::size_t samples = whole * static_cast<std::size_t>(layout_.channels);
    if (layout_.bits == 8) {
        std::memcpy(out, raw_.data(), samples);
    } else {
        converted_.resize(samples);
        toInt16(raw_.data(), samples, layout_, converted_.data());
        std::memcpy(out, converted_.data(), samples * 2);
    }
    return static_cast<int>(whole);
}

void WavDecoder::seekMs(int ms) {
    const std::uint64_t frame = static_cast<std::uint64_t>(std::max(ms, 0)) *
                                static_cast<std::uint64_t>(layout_.rate) / 1000;
    frame_ = std::min(frame, layout_.frames);
}

}  // namespace inwave
