// The decoding side of an input plug-in: one thread per play that decodes
// 576-frame blocks and writes them to the host's output module, the way the
// plug-in interface expects.
//
// Threads: play, stop, pause, unpause, seek, lengthMs and outputTimeMs are
// called from the host's thread (the In_Module functions); they are not
// called concurrently with each other. The decoding thread alone calls the
// Decoder and the output module's Write, CanWrite, IsPlaying and Flush; the
// two sides share only the atomics of a Session.
#pragma once

#include <memory>
#include <thread>

#include "platform/winamp/In_Module.h"

namespace inplug {

// What a file decodes to, as the output module is opened with it.
struct StreamFormat {
    int rate = 0;
    int channels = 0;
    int bits = 16;  // 8 (unsigned) or 16 (signed), interleaved
    int bitrateKbps = 0;
    int lengthMs = 0;
};

// One open file. Used by one thread at a time.
class Decoder {
  public:
    virtual ~Decoder() = default;
    virtual StreamFormat format() const = 0;
    // Slow preparation (an index of the file for exact seeks), run on the
    // decoding thread before the first seek; format().lengthMs may be exact
    // only afterwards.
    virtual void prepare() {}
    // Fills up to frames frames in the stream's format; 0 at the end.
    virtual int read(unsigned char* out, int frames) = 0;
    // The next read starts at ms (clamped to the stream).
    virtual void seekMs(int ms) = 0;
};

class InputPlayer {
  public:
    // Decoded frames per block, as plug-ins hand them to the output.
    static constexpr int kBlockFrames = 576;

    explicit InputPlayer(In_Module& module) : module_(module) {}
    ~InputPlayer() { stop(); }

    // Opens the output, reports the format and starts the decoding thread.
    // 0 on success, 1 when the output refuses the format.
    int play(std::unique_ptr<Decoder> decoder);
    // Ends the decoding thread (bounded wait) and closes the output.
    void stop();
    void pause();
    void unpause();
    bool isPaused() const { return paused_; }
    // Asks the decoding thread to continue from ms; it flushes the output.
    void seek(int ms);
    int lengthMs() const;
    int outputTimeMs() const;

  private:
    struct Session;
    static void run(In_Module& module, std::shared_ptr<Session> session);

    In_Module& module_;
    std::shared_ptr<Session> session_;
    std::thread thread_;
    bool paused_ = false;
};

}  // namespace inplug
