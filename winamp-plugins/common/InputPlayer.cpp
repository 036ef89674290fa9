#include "winamp-plugins/common/InputPlayer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace inplug {

namespace {
using Clock = std::chrono::steady_clock;
// Once the whole file is written: how often the output is asked whether it
// has been heard, so that the end is told within a few milliseconds.
constexpr auto kPoll = std::chrono::milliseconds(2);
// Waits for room in the output: long enough for a few blocks to fit, so the
// decoding thread wakes a few times per output buffer, not once per block.
constexpr int kRoomBlocks = 12;
constexpr auto kShortestWait = std::chrono::milliseconds(2);
constexpr auto kLongestWait = std::chrono::milliseconds(100);
// Stop waits this long for the decoding thread, whose rests end as soon as
// it is told to stop or seek; only a decoder or output call can hold it.
constexpr auto kStopWait = std::chrono::seconds(5);
}  // namespace

struct InputPlayer::Session {
    std::unique_ptr<Decoder> decoder;
    StreamFormat format;
    std::atomic<bool> stop{false};
    std::atomic<int> seekTo{-1};
    std::atomic<int> lengthMs{0};

    std::mutex mutex;
    std::condition_variable done;
    std::condition_variable wake;  // a stop or a seek was asked for
    bool finished = false;         // guarded by mutex

    // The decoding thread's rests, cut short by a stop or a seek.
    void rest(Clock::duration time) {
        std::unique_lock lock(mutex);
        wake.wait_for(lock, time, [this] { return stop.load() || seekTo.load() >= 0; });
    }
    void interrupt() {
        { std::lock_guard lock(mutex); }
        wake.notify_all();
    }
};

namespace {

// The decoding loop's state, on the decoding thread only.
class BlockWriter {
  public:
    BlockWriter(In_Module& module, const StreamFormat& format,
                std::function<void(Clock::duration)> rest)
        : rest_(std::move(rest)),
          module_(module),
          format_(format),
          frameBytes_(format.channels * (format.bits / 8)),
          realTime_(std::max(1.0, static_cast<double>(frameBytes_) * format.rate)),
          pace_(realTime_),
          buffer_(static_cast<std::size_t>(frameBytes_) * InputPlayer::kBlockFrames * 2) {}

    // One step: decodes a block when the output has room, writes what waits.
    // False once the decoder has ended.
    bool step(Decoder& decoder) {
        if (pending_ == 0) {
            const bool dsp = module_.dsp_isactive && module_.dsp_isactive();
            const int needed = InputPlayer::kBlockFrames * frameBytes_ * (dsp ? 2 : 1);
            const int room = roomInOutput();
            if (room < needed) return idle(room, needed);
            const int frames = decoder.read(buffer_.data(), InputPlayer::kBlockFrames);
            if (frames <= 0) return false;
            pending_ = process(frames, dsp) * frameBytes_;
        } else if (const int room = roomInOutput(); room < pending_) {
            return idle(room, pending_);
        }
        if (module_.outMod->Write(reinterpret_cast<char*>(buffer_.data()), pending_) == 0) {
            pending_ = 0;
            return true;
        }
        return idle(0, pending_);  // refused: the same block is offered again
    }

    void restartAt(int ms) {
        pending_ = 0;
        decodedFrames_ = static_cast<long long>(ms) * format_.rate / 1000;
    }

  private:
    // The output's room; after a wait, also how fast it made room meanwhile.
    int roomInOutput() {
        const int room = module_.outMod->CanWrite();
        if (waited_) {
            waited_ = false;
            const double seconds = std::chrono::duration<double>(Clock::now() - waitStart_).count();
            const double freed = room - roomBefore_;
            pace_ = seconds > 0 ? std::max(realTime_, freed / seconds) : realTime_;
        }
        return room;
    }

    // Sleeps about as long as the output takes to make room for a few blocks
    // at the pace it last made room: real time on a device, much less on an
    // output that runs as fast as it is fed.
    bool idle(int room, int needed) {
        const int missing = kRoomBlocks * needed - std::max(room, 0);
        const auto wait = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(missing / pace_));
        roomBefore_ = std::max(room, 0);
        waitStart_ = Clock::now();
        waited_ = true;
        rest_(std::clamp<Clock::duration>(wait, kShortestWait, kLongestWait));
        return true;
    }

    // Feeds the visualisation (when the host asks for it) and the DSP; returns
    // the frames to write.
    int process(int frames, bool dsp) {
        const int ms = static_cast<int>(decodedFrames_ * 1000 / format_.rate);
        decodedFrames_ += frames;
        if (module_.SAAddPCMData)
            module_.SAAddPCMData(buffer_.data(), format_.channels, format_.bits, ms);
        if (module_.VSAAddPCMData)
            module_.VSAAddPCMData(buffer_.data(), format_.channels, format_.bits, ms);
        if (!dsp || !module_.dsp_dosamples) return frames;
        const int out = module_.dsp_dosamples(reinterpret_cast<short*>(buffer_.data()), frames,
                                              format_.bits, format_.channels, format_.rate);
        // A DSP may lengthen a block, never beyond the buffer it was given.
        return std::clamp(out, 0, InputPlayer::kBlockFrames * 2);
    }

    std::function<void(Clock::duration)> rest_;
    In_Module& module_;
    const StreamFormat format_;
    const int frameBytes_;
    const double realTime_;  // bytes per second the output plays in real time
    double pace_;            // bytes per second it last made room at
    bool waited_ = false;
    int roomBefore_ = 0;
    Clock::time_point waitStart_;
    std::vector<unsigned char> buffer_;
    int pending_ = 0;  // bytes in buffer_ not yet taken by the output
    long long decodedFrames_ = 0;
};

}  // namespace

// The decoder's slow preparation waits until a seek needs it: the first block
// is not held up by it.
void InputPlayer::run(In_Module& module, std::shared_ptr<Session> session) {
    Session& s = *session;
    bool prepared = false;
    const auto prepare = [&] {
        if (prepared) return;
        prepared = true;
        s.decoder->prepare();
        s.lengthMs = s.decoder->format().lengthMs;
    };
    BlockWriter writer(module, s.format, [&s](Clock::duration time) { s.rest(time); });
    bool ended = false;
    while (!s.stop) {
        const int seek = s.seekTo.exchange(-1);
        if (seek >= 0) {
            prepare();
            s.decoder->seekMs(seek);
            module.outMod->Flush(seek);
            writer.restartAt(seek);
            ended = false;
        } else if (!ended) {
            ended = !writer.step(*s.decoder);
        } else if (module.outMod->IsPlaying()) {
            s.rest(kPoll);
        } else {
            // The last sample has been heard.
            PostMessage(module.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
            break;
        }
    }
    std::lock_guard lock(s.mutex);
    s.finished = true;
    s.done.notify_all();
}

int InputPlayer::play(std::unique_ptr<Decoder> decoder) {
    stop();
    auto session = std::make_shared<Session>();
    session->format = decoder->format();
    session->lengthMs = session->format.lengthMs;
    session->decoder = std::move(decoder);
    const StreamFormat& f = session->format;
    const int latency = module_.outMod->Open(f.rate, f.channels, f.bits, -1, -1);
    if (latency < 0) return 1;
    if (module_.SetInfo) module_.SetInfo(f.bitrateKbps, f.rate / 1000, f.channels, 1);
    if (module_.SAVSAInit) module_.SAVSAInit(latency, f.rate);
    if (module_.VSASetInfo) module_.VSASetInfo(f.rate, f.channels);
    paused_ = false;
    session_ = session;
    thread_ = std::thread(run, std::ref(module_), std::move(session));
    return 0;
}

void InputPlayer::stop() {
    if (!session_) return;
    session_->stop = true;
    session_->interrupt();
    bool finished;
    {
        std::unique_lock lock(session_->mutex);
        finished = session_->done.wait_for(lock, kStopWait, [&] { return session_->finished; });
    }
    // A thread stuck inside the output module keeps its session alive on its
    // own; the host is not held hostage by it.
    if (finished) {
        thread_.join();
    } else {
        thread_.detach();
    }
    session_.reset();
    module_.outMod->Close();
    if (module_.SAVSADeInit) module_.SAVSADeInit();
    paused_ = false;
}

void InputPlayer::pause() {
    paused_ = true;
    if (session_) module_.outMod->Pause(1);
}

void InputPlayer::unpause() {
    paused_ = false;
    if (session_) module_.outMod->Pause(0);
}

void InputPlayer::seek(int ms) {
    if (!session_) return;
    session_->seekTo = std::max(ms, 0);
    session_->interrupt();
}

int InputPlayer::lengthMs() const {
    return session_ ? session_->lengthMs.load() : 0;
}

int InputPlayer::outputTimeMs() const {
    return session_ ? module_.outMod->GetOutputTime() : 0;
}

}  // namespace inplug
