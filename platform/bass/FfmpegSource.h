// A decoded audio stream read through FFmpeg: local files, memory blocks,
// addresses FFmpeg opens itself, or a byte feed of ours (HTTP).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Source.h"
#include "bass_types.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVIOContext;
struct SwrContext;
struct AVPacket;
struct AVFrame;

namespace kavbass {

// Which containers and codecs a caller accepts.
enum class Family { Stream, Wma, Music };

struct OpenRequest {
    Family family = Family::Stream;
    std::string url;               // path or address, unless feed or memory is set
    const void* memory = nullptr;  // an in-memory file
    size_t memorySize = 0;
    // A byte feed: returns bytes read, 0 at the end, negative when aborted.
    std::function<int(uint8_t*, int)> feed;
    int64_t feedSize = -1;  // total size of the feed when known
    // The demuxer to read the feed with ("mp3", "ogg"); empty: probe for it.
    std::string format;
    uint32_t musicRate = 44100;  // output rate of module music
    int timeoutMs = 10000;       // network addresses FFmpeg opens itself
    // Opening and probing give up at this time (network input that never
    // brings enough to decide); reading afterwards has no deadline.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

class FfmpegSource : public Source {
  public:
    struct MemoryFile;
    // nullptr on failure with error set to a BASS_ERROR_* code.
    static std::unique_ptr<FfmpegSource> open(const OpenRequest& req, int& error);
    ~FfmpegSource() override;

    size_t read(int16_t* out, size_t maxFrames, bool& eof) override;
    bool seek(uint64_t frame) override;
    void abort() override;

    uint32_t rate() const { return rate_; }
    uint32_t channels() const { return chans_; }
    DWORD ctype() const { return ctype_; }
    // Length in frames, or -1 when unknown (live streams).
    int64_t lengthFrames() const { return lengthFrames_; }
    // Size of the underlying file when FFmpeg knows it, else -1.
    int64_t fileSize() const;

  private:
    FfmpegSource() = default;
    bool openInput(const OpenRequest& req, int& error);
    bool openCodec(Family family, int& error);
    static int feedRead(void* opaque, uint8_t* buf, int size);
    static int64_t feedSeek(void* opaque, int64_t offset, int whence);
    static int interrupted(void* opaque);
    bool decodeMore();
    void takeFrame(AVFrame* frame);

    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVIOContext* avio_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVPacket* pkt_ = nullptr;
    AVFrame* frame_ = nullptr;
    std::unique_ptr<MemoryFile> memory_;
    std::function<int(uint8_t*, int)> feed_;
    int64_t feedSize_ = -1;
    int streamIndex_ = -1;
    uint32_t rate_ = 0;
    uint32_t chans_ = 0;
    DWORD ctype_ = 0;
    int64_t lengthFrames_ = -1;
    std::vector<int16_t> pending_;  // decoded frames not yet handed out
    size_t pendingPos_ = 0;         // in samples
    int64_t skipTo_ = -1;           // after a seek: first frame wanted
    // Ogg Vorbis: FFmpeg may decode past the last granule (the end of the
    // last block), which the container says is the end.
    int64_t endFrame_ = -1;
    int64_t nextFrame_ = 0;  // the frame read hands out next
    bool inputEnded_ = false;
    bool drained_ = false;
    std::atomic<bool> aborted_{false};
    std::atomic<int64_t> deadlineNs_{INT64_MAX};  // steady clock, while opening
};

}  // namespace kavbass
