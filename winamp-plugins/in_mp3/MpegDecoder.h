// MPEG audio layers 1 to 3 through libmpg123: gapless (the encoder's delay
// and padding removed), sample-accurate seeking once the file has been
// indexed, damaged frames skipped with a bounded search for the next one.
// Output is 16-bit signed, mono or stereo, at the file's rate.
#pragma once

#include <mpg123.h>

#include <memory>
#include <string>
#include <vector>

#include "winamp-plugins/common/InputPlayer.h"
#include "winamp-plugins/common/RegularFile.h"
#include "winamp-plugins/in_mp3/MpegInput.h"

namespace inmp3 {

// Once per process before the first decoder (harmless when repeated).
void initLibrary();

class MpegDecoder : public inplug::Decoder {
  public:
    // Null when the file is not a regular file or the library cannot start.
    // A file without a single decodable frame still opens: it plays nothing.
    static std::unique_ptr<MpegDecoder> open(const std::string& path);
    ~MpegDecoder() override;

    inplug::StreamFormat format() const override { return format_; }
    void prepare() override;
    int read(unsigned char* out, int frames) override;
    void seekMs(int ms) override;

    // "Artist - Title" from the file's tags; empty when it has none.
    std::string tagTitle();
    // Whether path still names the file this decoder reads, unchanged.
    bool reads(const std::string& path) const { return file_->isStill(path); }
    // Decodes the first frame now, so that the first read finds it ready.
    void primeFirstFrame();

  private:
    MpegDecoder(std::unique_ptr<inplug::RegularFile> file, mpg123_handle* handle)
        : file_(std::move(file)), input_(*file_), handle_(handle) {}
    bool readFormat();
    void updateLength();
    // Decodes the next frame of the stream's format into pending_; false at the end.
    bool decodeFrame();

    std::unique_ptr<inplug::RegularFile> file_;
    MpegInput input_;  // the handle reads the file through it
    mpg123_handle* handle_;
    inplug::StreamFormat format_;
    bool playable_ = false;               // a first frame was found
    bool indexed_ = false;                // prepare has run
    bool foreign_ = false;                // the frames now decoded have another format
    std::vector<unsigned char> pending_;  // decoded, not yet read
    std::size_t pendingAt_ = 0;
};

}  // namespace inmp3
