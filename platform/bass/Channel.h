// One playing unit of the library: a stream (file, network or user procedure)
// or music. A worker thread fills the sample ring ahead of the mixer; the mixer
// (the output callback) takes from it without locking.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "LiveWatch.h"
#include "Mixable.h"
#include "SampleHistory.h"
#include "SampleRing.h"
#include "Source.h"
#include "TagStore.h"
#include "bass_types.h"

namespace kavbass {

struct ChannelFormat {
    DWORD freq = 44100;
    DWORD chans = 2;
    DWORD flags = 0;  // BASS_SAMPLE_8BITS: positions count 8-bit bytes
    DWORD ctype = BASS_CTYPE_STREAM;
    bool music = false;
    bool userStream = false;  // flush and stop restart the procedure's data at 0
    bool seekable = true;
    // A network stream with no known end: one that runs dry is silent until
    // it has refilled, and one that keeps running dry ends (LiveWatch).
    bool live = false;
    int64_t lengthFrames = -1;  // -1 when unknown
};

struct Sync {
    HSYNC handle;
    DWORD type;
    SYNCPROC* proc;
    void* user;
    bool fired = false;
};

class Channel final : public Mixable {
  public:
    Channel(DWORD handle, const ChannelFormat& format, std::unique_ptr<Source> source,
            std::shared_ptr<TagStore> tags);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    DWORD handle() const override { return handle_; }
    const ChannelFormat& format() const { return fmt_; }
    // The length in frames, -1 when unknown; a download may learn it late.
    int64_t lengthFrames() const { return length_.load(); }
    void setLengthFrames(int64_t frames) { length_.store(frames); }
    // True the first time only: a complete download's length is read once.
    bool takeLengthCheck() { return !lengthChecked_.exchange(true); }
    DWORD bytesPerFrame() const { return fmt_.chans * ((fmt_.flags & BASS_SAMPLE_8BITS) ? 1 : 2); }
    TagStore& tags() { return *tags_; }

    // Transport, from any thread but the output callback. play starts or goes
    // on; with restart (a flush), or once finished, it starts again from 0.
    // stop keeps the position, but a user stream's buffered data is dropped
    // and its position goes back to 0, as its procedure starts afresh.
    bool play(bool restart);
    // Beyond the 2.0 interface: primes the channel and leaves it to the mixer,
    // which starts it at the sample after the last one of the channel whose
    // handle is leader, in the same pass. play, stop and free cancel it; a
    // leader that never plays to its end never starts it. A user stream's
    // procedure is called from the moment it is queued. False for a channel
    // that plays or is paused, and for a user stream that has ended.
    bool queueAfter(DWORD leader);
    void stop();
    bool pause();
    bool resume();
    DWORD active() const override;
    uint64_t positionFrames() const;
    bool seekFrames(uint64_t frame);
    // Called by the worker's owner before destruction.
    void shutdown();

    void setAttributes(int freq, int volume, int pan);
    void getAttributes(DWORD* freq, DWORD* volume, int* pan) const;

    // firesNow: an end sync set on a channel whose end has already been
    // signalled, which the caller must fire itself (an end is never lost).
    HSYNC addSync(HSYNC handle, DWORD type, SYNCPROC* proc, void* user, bool& firesNow);
    bool removeSync(HSYNC handle);
    std::vector<Sync> syncsOf(DWORD type) const;
    // Once per end of playback, after the output has handed on the block that
    // held the last frame (delivered: the output's count of such blocks): the
    // end syncs to fire. Empty otherwise.
    std::vector<Sync> takeEndSyncs(uint64_t delivered);
    // The source has been read to its end (for downloads).
    bool sourceEnded() const { return sourceDone_.load(); }
    // The syncs of a type not fired yet, marked fired.
    std::vector<Sync> takeUnfired(DWORD type);

    // The last frames heard, as 16-bit samples at the channel's own format;
    // false when nothing has been heard yet.
    bool recentSamples(int16_t* out, size_t frames) const;

    // Output side: only the mixer calls these.
    bool mixInto(float* acc, size_t frames, DWORD deviceRate, float masterGain,
                 uint64_t pass) override;
    // Whether the ring holds enough for frames of output (or the stream ends).
    bool fedFor(size_t frames, DWORD deviceRate) const override;
    // The worker reads at once (unless it rests after its source had nothing
    // to give), and raises the mix gate's playing signal once it has read.
    void hurry() override {
        hurried_.store(true, std::memory_order_relaxed);
        if (!starved_.load(std::memory_order_relaxed)) cv_.notify_all();
    }
    bool isMusic() const override { return fmt_.music; }
    size_t framesBeforeEnd() const override { return framesBeforeEnd_; }
    bool startAfter(DWORD leader) override;

  private:
    enum State : int { kStopped, kPlaying, kPaused, kQueued };
    struct Frame {
        float l = 0, r = 0;
    };

    void workerLoop();
    bool wantsData() const;
    size_t roomFrames() const;
    std::chrono::microseconds restFor() const;
    void wakeWorker();
    void fillOnce(std::unique_lock<std::mutex>& lk, std::vector<int16_t>& tmp);
    void resetOutput(uint64_t baseFrame);  // with the mixer kept off this channel
    void waitPrimed();
    // Progress through the ring within one mix pass.
    struct Cursor {
        size_t used = 0, avail = 0;
        uint64_t heard = 0;
        size_t out = 0;  // output frames filled
    };
    Frame takeFrame(size_t index);
    bool moveOn(Cursor& c);
    bool interpolate(Cursor& c, bool eof, Frame& out);
    // Any rate: one output frame at a time. false when the ring ran dry first.
    bool mixResampled(float* acc, size_t frames, double step, float gl, float gr, bool eof,
                      Cursor& c);
    // The channel's rate is the device's: whole runs of frames, no interpolation.
    bool sameRateReady() const;
    bool mixSameRate(float* acc, size_t frames, float gl, float gr, Cursor& c);
    bool nothingLeft() const;

    const DWORD handle_;
    const ChannelFormat fmt_;
    std::unique_ptr<Source> source_;
    SampleRing ring_;
    const size_t aheadFrames_;  // how far the worker reads ahead of the mixer
    const size_t chunkFrames_;
    std::shared_ptr<TagStore> tags_;

    // Worker state, guarded by mtx_.
    mutable std::mutex mtx_;
    std::condition_variable cv_;
    bool quit_ = false;
    uint64_t generation_ = 0;  // bumped whenever the ring is emptied
    bool seekPending_ = false;
    uint64_t seekFrame_ = 0;
    bool sourceEnded_ = false;
    bool seekOk_ = true;
    std::thread worker_;

    // Shared with the mixer.
    std::atomic<int> state_{kStopped};
    std::atomic<bool> mixEnabled_{true};
    std::atomic<bool> eof_{false};      // the ring holds the source's last frames
    std::atomic<bool> ended_{false};    // the mixer has played them all
    std::atomic<bool> stalled_{false};  // the mixer ran dry before the end
    std::atomic<bool> endEvent_{false};
    std::atomic<uint64_t> endPass_{0};
    std::atomic<bool> sourceDone_{false};
    std::atomic<uint64_t> baseFrame_{0};
    std::atomic<uint64_t> heardFrames_{0};
    std::atomic<int> volume_{100};
    std::atomic<int> pan_{0};
    std::atomic<int> freq_{0};          // 0: the channel's own rate
    std::atomic<bool> hurried_{false};  // an output waits for this channel's data
    std::atomic<bool> starved_{false};  // the source had nothing: the worker rests
    std::atomic<DWORD> leader_{0};      // queued: the channel whose end starts this one

    // A live stream that ran dry: the mixer waits for a refill, the worker
    // reads ahead that far. cutOff_: it gave up, the worker reads no more.
    std::atomic<bool> refilling_{false};
    std::atomic<bool> cutOff_{false};
    LiveWatch watch_;  // mixer only
    size_t refillFrames() const;
    bool waitRefill(size_t frames, DWORD deviceRate, uint64_t pass, bool eof, bool& finished);
    bool finish(uint64_t pass);

    // Mixer-only resampling state (reset with the mixer kept off).
    Frame a_, b_;
    bool haveA_ = false, haveB_ = false;
    double frac_ = 0.0;
    size_t shift_ = 0;            // input frames to move past before the next output
    size_t framesBeforeEnd_ = 0;  // output frames filled by the pass that ended it

    // What was heard, for BASS_ChannelGetData.
    SampleHistory history_;

    std::atomic<int64_t> length_;
    std::atomic<bool> lengthChecked_{false};

    mutable std::mutex syncMtx_;
    std::vector<Sync> syncs_;
    bool endTaken_ = false;  // the current end's syncs have been handed out
};

}  // namespace kavbass
