// Encodes what the program plays for a stream output with FFmpeg's
// encoders: MP3 (libmp3lame) as plain frames, Ogg Vorbis (libvorbis) and
// Ogg Opus (libopus) as Ogg pages made by FFmpeg's Ogg muxer.
//
// Titles: an MP3 stream carries none (the server's metadata update does);
// an Ogg stream carries the title and artist in its comment header, so a
// new title ends the logical stream and begins another (a chained Ogg
// stream, as Icecast and Ogg players expect at a track change). The samples
// not yet encoded carry over into the new stream: nothing is dropped at the
// change.
//
// One thread (the output's) uses an encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "OnAirSettings.h"

namespace onair {

struct Tags {
    std::string artist, title;
    bool operator==(const Tags&) const = default;
};

class Encoder {
  public:
    // kbps: the bit rate; inputRate: the frames per second of what Encode
    // is given (resampled for encoders that need another rate). Nothing,
    // with error set, when the encoder cannot be opened.
    static std::unique_ptr<Encoder> Create(Format format, int kbps, int inputRate, const Tags& tags,
                                           std::string& error);
    virtual ~Encoder() = default;

    // Interleaved 16-bit stereo at the input rate. False after an error.
    virtual bool Encode(const std::int16_t* pcm, std::size_t frames) = 0;
    // Ogg: a new logical stream whose comments carry tags. MP3: nothing.
    virtual bool Retitle(const Tags& tags) = 0;
    // Encodes what is held back and ends the stream (at a clean stop).
    virtual bool Finish() = 0;
    // The bytes made since the last call, ready to send.
    virtual std::string Take() = 0;
    virtual const std::string& Error() const = 0;
    // "audio/mpeg" or "application/ogg".
    virtual const char* ContentType() const = 0;
    // The rate the encoder runs at.
    virtual int EncodedRate() const = 0;
};

}  // namespace onair
