#include "Channel.h"

#include <algorithm>
#include <chrono>

#include "MixGate.h"
#include "MixKernels.h"
#include "Mixer.h"

namespace kavbass {

using namespace std::chrono_literals;

namespace {

// A file's or a download's ring holds a second, read ahead whole; a live
// stream's has room for the refill after it ran dry, too. A user
// stream is kept only a fifth of a second ahead, so that its procedure's data
// is heard soon after it is produced, unless an output that runs ahead of
// real time waits for it: then its ring of two seconds is filled whole, in as
// few calls of the procedure as it takes.
size_t ringFramesFor(const ChannelFormat& f) {
    return f.userStream ? 2 * f.freq : f.live ? 3 * f.freq : f.freq;
}
size_t aheadFramesFor(const ChannelFormat& f) {
    return f.userStream ? f.freq / 5 : f.freq;
}
size_t chunkFramesFor(const ChannelFormat& f) {
    return f.userStream ? f.freq / 10 : f.freq / 20;
}

}  // namespace

Channel::Channel(DWORD handle, const ChannelFormat& format, std::unique_ptr<Source> source,
                 std::shared_ptr<TagStore> tags)
    : handle_(handle),
      fmt_(format),
      source_(std::move(source)),
      ring_(ringFramesFor(format) * format.chans),
      aheadFrames_(std::max<size_t>(1, aheadFramesFor(format))),
      chunkFrames_(std::max<size_t>(1, chunkFramesFor(format))),
      tags_(std::move(tags)),
      history_(format.chans),
      length_(format.lengthFrames) {
    worker_ = std::thread([this] { workerLoop(); });
}

Channel::~Channel() {
    shutdown();
}

void Channel::shutdown() {
    {
        std::lock_guard<std::mutex> lk(mtx_);
        if (quit_) return;
        quit_ = true;
    }
    source_->abort();
    cv_.notify_all();
    if (worker_.joinable()) {
        if (worker_.get_id() == std::this_thread::get_id()) {
            worker_.detach();  // freed from its own procedure: the loop ends by itself
        } else {
            worker_.join();
        }
    }
}

bool Channel::wantsData() const {
    if (seekPending_) return true;
    if (sourceEnded_ || cutOff_.load()) return false;
    const int state = state_.load();
    if (!source_->readsAhead() && state != kPlaying && state != kQueued) return false;
    return roomFrames() >= chunkFrames_;
}

// The frames the worker may add now: up to the ring's capacity while an
// output waits for this channel.
size_t Channel::roomFrames() const {
    const size_t ch = fmt_.chans;
    size_t ahead = hurried_.load(std::memory_order_relaxed) ? ring_.capacity() / ch : aheadFrames_;
    if (refilling_.load(std::memory_order_relaxed))
        ahead = std::max(ahead, std::min(ring_.capacity() / ch, refillFrames() + chunkFrames_));
    const size_t held = (ring_.capacity() - ring_.writable()) / ch;
    return held >= ahead ? 0 : ahead - held;
}

// How long the worker may rest before the ring has room for a chunk at the
// pace the channel plays. Whatever else gives it work (play, resume, a seek,
// shutdown, an output that runs ahead of real time) wakes it sooner.
// A queued channel is started by the mixer, which cannot wake it: it looks
// again as often as a chunk plays.
std::chrono::microseconds Channel::restFor() const {
    const int state = state_.load();
    if ((state != kPlaying && state != kQueued) || sourceEnded_) return 1s;
    const size_t room = roomFrames();
    if (room >= chunkFrames_) return 0us;
    const int f = freq_.load();
    const double rate = f ? f : fmt_.freq;
    const auto wait = std::chrono::microseconds(
        static_cast<int64_t>(static_cast<double>(chunkFrames_ - room) * 1e6 / rate));
    return std::max<std::chrono::microseconds>(wait, 2ms);
}

// State changes are made visible under the worker's lock so that a worker
// about to rest sees them or is woken.
void Channel::wakeWorker() {
    { std::lock_guard<std::mutex> lk(mtx_); }
    cv_.notify_all();
}

void Channel::workerLoop() {
    std::vector<int16_t> tmp(ring_.capacity());
    std::unique_lock<std::mutex> lk(mtx_);
    while (!quit_) {
        if (!wantsData()) {
            // Full: an output waiting for this channel may mix a ring's worth.
            if (hurried_.exchange(false)) MixGate::instance().playing.raise();
            cv_.wait_for(lk, restFor());
            continue;
        }
        if (seekPending_) {
            const uint64_t frame = seekFrame_, gen = generation_;
            lk.unlock();
            const bool ok = source_->seek(frame);
            lk.lock();
            if (gen == generation_) {
                seekPending_ = false;
                seekOk_ = ok;
            }
            cv_.notify_all();
            continue;
        }
        fillOnce(lk, tmp);
    }
}

// Reads one chunk without holding the lock (the source may block), then keeps
// it unless the ring was emptied meanwhile.
void Channel::fillOnce(std::unique_lock<std::mutex>& lk, std::vector<int16_t>& tmp) {
    const uint64_t gen = generation_;
    // A user stream's procedure is asked for all there is room for at once.
    size_t frames = fmt_.userStream ? roomFrames() : chunkFrames_;
    // Read into the ring where the frames fit before its end (committed only
    // if the ring was not emptied meanwhile), else through tmp.
    const size_t ch = fmt_.chans;
    size_t contiguous = 0;
    int16_t* to = ring_.space(contiguous);
    if (contiguous / ch == 0) {
        to = tmp.data();
    } else {
        frames = std::min(frames, contiguous / ch);
    }
    lk.unlock();
    bool eof = false;
    const size_t n = source_->read(to, frames, eof);
    lk.lock();
    if (gen != generation_) return;
    if (to == tmp.data())
        ring_.write(tmp.data(), n * ch);
    else
        ring_.commit(n * ch);
    if (eof) {
        sourceEnded_ = true;
        eof_.store(true, std::memory_order_release);
        sourceDone_.store(true);
        MixGate::instance().syncs.raise();  // a download may be complete
    }
    cv_.notify_all();
    if (n == 0 && !eof) {
        if (ring_.readable() > 0 && hurried_.exchange(false)) MixGate::instance().playing.raise();
        // Nothing yet (a procedure behind, a download waiting): asked again
        // after a rest that an output in a hurry does not cut short.
        starved_.store(true);
        cv_.wait_for(lk, 10ms);
        starved_.store(false);
    }
}

void Channel::resetOutput(uint64_t baseFrame) {
    mixEnabled_.store(false);
    MixGate::instance().quiesce();
    ring_.reset();
    ++generation_;
    sourceEnded_ = false;
    eof_.store(false);
    ended_.store(false);
    stalled_.store(false);
    endEvent_.store(false);
    refilling_.store(false);
    {
        std::lock_guard<std::mutex> sl(syncMtx_);
        endTaken_ = false;
    }
    haveA_ = haveB_ = false;
    frac_ = 0.0;
    shift_ = 0;
    baseFrame_.store(baseFrame);
    heardFrames_.store(0);
}

void Channel::waitPrimed() {
    std::unique_lock<std::mutex> lk(mtx_);
    const auto limit = fmt_.userStream ? 200ms : 1000ms;
    cv_.wait_for(lk, limit, [this] {
        return quit_ ||
               (!seekPending_ && (sourceEnded_ || ring_.readable() >= chunkFrames_ * fmt_.chans));
    });
}

bool Channel::play(bool restart) {
    if (restart || ended_.load()) {
        if (fmt_.userStream || !fmt_.seekable) {
            if (!fmt_.userStream && ended_.load()) return false;  // a finished download
            std::lock_guard<std::mutex> lk(mtx_);
            if (fmt_.userStream) resetOutput(0);
            mixEnabled_.store(true);
        } else if (!seekFrames(0)) {
            return false;
        }
    }
    // A source that reads ahead is primed before the mixer may see the channel,
    // so the first pass does not find it dry and report a stall that is not one.
    const bool readsAhead = source_->readsAhead();
    if (readsAhead) {
        wakeWorker();
        waitPrimed();
    }
    state_.store(kPlaying);
    wakeWorker();
    MixGate::instance().playing.raise();
    if (!readsAhead) waitPrimed();
    return true;
}

// A source that reads ahead is primed before it is queued; a user stream's
// procedure is first called once it is queued (it may be asked for data from
// then on), and it is primed then, before its turn.
bool Channel::queueAfter(DWORD leader) {
    const int state = state_.load();
    if (state == kPlaying || state == kPaused) return false;
    const bool readsAhead = source_->readsAhead();
    // An ended user stream cannot be rewound: it does not start again.
    if (ended_.load() && (!readsAhead || !seekFrames(0))) return false;
    if (readsAhead) {
        wakeWorker();
        waitPrimed();
    }
    leader_.store(leader);
    state_.store(kQueued);
    wakeWorker();
    if (!readsAhead) waitPrimed();
    return true;
}

// Output thread only.
bool Channel::startAfter(DWORD leader) {
    if (leader == 0 || leader_.load(std::memory_order_acquire) != leader) return false;
    int queued = kQueued;
    return state_.compare_exchange_strong(queued, kPlaying);
}

void Channel::stop() {
    state_.store(kStopped);
    leader_.store(0);
    MixGate::instance().playing.raise();  // an output waiting for it mixes the others
    if (fmt_.userStream) {
        std::lock_guard<std::mutex> lk(mtx_);
        resetOutput(0);
        mixEnabled_.store(true);
    }
}

bool Channel::pause() {
    int expected = kPlaying;
    if (ended_.load()) return false;
    if (!state_.compare_exchange_strong(expected, kPaused)) return false;
    MixGate::instance().playing.raise();  // an output waiting for it mixes the others
    return true;
}

bool Channel::resume() {
    int expected = kPaused;
    if (!state_.compare_exchange_strong(expected, kPlaying)) return false;
    wakeWorker();
    MixGate::instance().playing.raise();
    return true;
}

DWORD Channel::active() const {
    switch (state_.load()) {
        case kPaused:
            return BASS_ACTIVE_PAUSED;
        case kPlaying:
            // Ended once the output has taken the pass with the last frames,
            // so that every consumer of the tap has them by then.
            if (ended_.load() && Mixer::instance().deliveredPasses() > endPass_.load())
                return BASS_ACTIVE_STOPPED;
            return stalled_.load() ? BASS_ACTIVE_STALLED : BASS_ACTIVE_PLAYING;
        default:
            return BASS_ACTIVE_STOPPED;
    }
}

uint64_t Channel::positionFrames() const {
    return baseFrame_.load() + heardFrames_.load(std::memory_order_acquire);
}

bool Channel::seekFrames(uint64_t frame) {
    if (fmt_.userStream || !fmt_.seekable) return false;
    std::unique_lock<std::mutex> lk(mtx_);
    resetOutput(frame);
    seekPending_ = true;
    seekFrame_ = frame;
    cv_.notify_all();
    cv_.wait_for(lk, 3000ms, [this] {
        return quit_ ||
               (!seekPending_ && (sourceEnded_ || ring_.readable() >= chunkFrames_ * fmt_.chans));
    });
    const bool ok = !seekPending_ && seekOk_;
    mixEnabled_.store(true);
    return ok;
}

void Channel::setAttributes(int freq, int volume, int pan) {
    if (freq == 0) freq_.store(0);
    if (freq >= 100 && freq <= 100000) freq_.store(freq);
    if (volume >= 0 && volume <= 100) volume_.store(volume);
    if (pan >= -100 && pan <= 100) pan_.store(pan);
}

void Channel::getAttributes(DWORD* freq, DWORD* volume, int* pan) const {
    if (freq) *freq = freq_.load() ? static_cast<DWORD>(freq_.load()) : fmt_.freq;
    if (volume) *volume = static_cast<DWORD>(volume_.load());
    if (pan) *pan = pan_.load();
}

HSYNC Channel::addSync(HSYNC handle, DWORD type, SYNCPROC* proc, void* user, bool& firesNow) {
    std::lock_guard<std::mutex> lk(syncMtx_);
    syncs_.push_back(Sync{handle, type, proc, user});
    firesNow = type == BASS_SYNC_END && endTaken_;
    return handle;
}

bool Channel::removeSync(HSYNC handle) {
    std::lock_guard<std::mutex> lk(syncMtx_);
    auto it = std::remove_if(syncs_.begin(), syncs_.end(),
                             [handle](const Sync& s) { return s.handle == handle; });
    bool found = it != syncs_.end();
    syncs_.erase(it, syncs_.end());
    return found;
}

std::vector<Sync> Channel::syncsOf(DWORD type) const {
    std::lock_guard<std::mutex> lk(syncMtx_);
    std::vector<Sync> out;
    for (const auto& s : syncs_)
        if (s.type == type) out.push_back(s);
    return out;
}

std::vector<Sync> Channel::takeEndSyncs(uint64_t delivered) {
    if (!endEvent_.load(std::memory_order_acquire) || delivered <= endPass_.load()) return {};
    // Taken and collected in one step with addSync, so a sync set meanwhile
    // is either among these or fired by its setter.
    std::lock_guard<std::mutex> lk(syncMtx_);
    if (!endEvent_.exchange(false)) return {};
    endTaken_ = true;
    std::vector<Sync> out;
    for (const auto& s : syncs_)
        if (s.type == BASS_SYNC_END) out.push_back(s);
    return out;
}
std::vector<Sync> Channel::takeUnfired(DWORD type) {
    std::lock_guard<std::mutex> lk(syncMtx_);
    std::vector<Sync> out;
    for (auto& s : syncs_) {
        if (s.type != type || s.fired) continue;
        s.fired = true;
        out.push_back(s);
    }
    return out;
}

bool Channel::recentSamples(int16_t* out, size_t frames) const {
    return history_.latest(out, frames);
}

Channel::Frame Channel::takeFrame(size_t index) {
    const size_t ch = fmt_.chans;
    const SampleRing::Pieces p = ring_.peek(index * ch, ch);
    int16_t samples[2];
    size_t got = 0;
    for (int k = 0; k < 2; ++k) {
        history_.append(p.data[k], p.size[k]);
        for (size_t i = 0; i < p.size[k] && got < 2; ++i) samples[got++] = p.data[k][i];
    }
    Frame f;
    f.l = samples[0];
    f.r = ch >= 2 ? samples[1] : f.l;
    return f;
}

size_t Channel::refillFrames() const {
    return static_cast<size_t>(LiveWatch::kRefillSeconds * fmt_.freq);
}

bool Channel::fedFor(size_t frames, DWORD deviceRate) const {
    if (eof_.load(std::memory_order_acquire)) return true;
    if (refilling_.load(std::memory_order_relaxed))
        return ring_.readable() / fmt_.chans >= refillFrames();
    const double rate = freq_.load() ? freq_.load() : fmt_.freq;
    const size_t needed = static_cast<size_t>(frames * rate / deviceRate) + 2;
    return ring_.readable() / fmt_.chans >= needed;
}

// Moves past the input frames that earlier outputs have used up; false when
// the ring runs dry first.
bool Channel::moveOn(Cursor& c) {
    while (shift_ > 0) {
        if (haveB_) {
            a_ = b_;
            haveB_ = false;
        } else if (c.used < c.avail) {
            a_ = takeFrame(c.used++);
        } else {
            return false;
        }
        --shift_;
        ++c.heard;
    }
    if (!haveA_) {
        if (c.used >= c.avail) return false;
        a_ = takeFrame(c.used++);
        haveA_ = true;
    }
    return true;
}

// The output frame between a_ and the frame after it; at the source's end the
// last frame is held.
bool Channel::interpolate(Cursor& c, bool eof, Frame& out) {
    out = a_;
    if (frac_ == 0.0) return true;
    if (!haveB_ && c.used < c.avail) {
        b_ = takeFrame(c.used++);
        haveB_ = true;
    }
    if (!haveB_ && !eof) return false;
    const Frame& next = haveB_ ? b_ : a_;
    out.l += (next.l - a_.l) * static_cast<float>(frac_);
    out.r += (next.r - a_.r) * static_cast<float>(frac_);
    return true;
}

bool Channel::mixResampled(float* acc, size_t frames, double step, float gl, float gr, bool eof,
                           Cursor& c) {
    for (size_t i = 0; i < frames; ++i) {
        Frame out;
        if (!moveOn(c) || !interpolate(c, eof, out)) return false;
        acc[2 * i] += out.l * gl;
        acc[2 * i + 1] += out.r * gr;
        c.out = i + 1;
        frac_ += step;
        const auto whole = static_cast<size_t>(frac_);
        frac_ -= static_cast<double>(whole);
        shift_ += whole;
    }
    return true;
}

// Between outputs at the device's own rate the state is always the same:
// no fraction, nothing looked ahead at, and the frame output last (if any)
// still to be moved past.
bool Channel::sameRateReady() const {
    return frac_ == 0.0 && !haveB_ && shift_ == (haveA_ ? 1u : 0u);
}

// What mixResampled does at a step of exactly one frame, in whole runs.
bool Channel::mixSameRate(float* acc, size_t frames, float gl, float gr, Cursor& c) {
    const size_t ch = fmt_.chans;
    const size_t n = std::min(frames, c.avail);
    if (n == 0) return false;
    const SampleRing::Pieces p = ring_.peek(0, n * ch);
    const int16_t* last = nullptr;
    size_t out = 0;
    for (int k = 0; k < 2; ++k) {
        const int16_t* s = p.data[k];
        const size_t run = p.size[k] / ch;
        if (run == 0) continue;
        history_.append(s, run * ch);
        if (ch == 2)
            mixk::addStereo(acc + 2 * out, s, run, gl, gr);
        else
            mixk::addFrames(acc + 2 * out, s, run, ch, gl, gr);
        out += run;
        last = s + (run - 1) * ch;
    }
    // Moved past the frame output before this pass and all but the last of these.
    c.heard += (haveA_ ? 1 : 0) + n - 1;
    c.used = n;
    c.out = n;
    a_.l = last[0];
    a_.r = ch >= 2 ? last[1] : a_.l;
    haveA_ = true;
    shift_ = 1;
    return n == frames;
}

// Every frame of the ring has been taken and the next output would have
// none to move on to: no frame looked ahead at, and the one in hand (if any)
// already moved past.
bool Channel::nothingLeft() const {
    return ring_.readable() == 0 && !haveB_ && (!haveA_ || shift_ > 0);
}

// A live stream waiting for its refill: true while this pass is silence
// (finished: it has waited too long and ends now).
bool Channel::waitRefill(size_t frames, DWORD deviceRate, uint64_t pass, bool eof, bool& finished) {
    if (eof || ring_.readable() / fmt_.chans >= refillFrames()) {
        refilling_.store(false, std::memory_order_relaxed);
        return false;
    }
    stalled_.store(true, std::memory_order_relaxed);
    finished = !watch_.pass(frames, frames, deviceRate) && finish(pass);
    return true;
}

// The end of a live stream that gave up: heard as a dead stream's end.
bool Channel::finish(uint64_t pass) {
    cutOff_.store(true);
    haveA_ = haveB_ = false;
    shift_ = 0;
    stalled_.store(false, std::memory_order_relaxed);
    endPass_.store(pass, std::memory_order_relaxed);
    endEvent_.store(true, std::memory_order_release);
    ended_.store(true, std::memory_order_release);
    return true;
}

bool Channel::mixInto(float* acc, size_t frames, DWORD deviceRate, float masterGain,
                      uint64_t pass) {
    if (!mixEnabled_.load(std::memory_order_acquire)) return false;
    if (state_.load(std::memory_order_acquire) != kPlaying || ended_.load()) return false;
    const bool eof = eof_.load(std::memory_order_acquire);
    bool gaveUp = false;
    if (fmt_.live && refilling_.load(std::memory_order_relaxed) &&
        waitRefill(frames, deviceRate, pass, eof, gaveUp))
        return gaveUp;
    const int f = freq_.load(std::memory_order_relaxed);
    const DWORD rate = f ? static_cast<DWORD>(f) : fmt_.freq;
    const double step = static_cast<double>(rate) / deviceRate;
    const float gain = masterGain * static_cast<float>(volume_.load()) / 100.0f;
    const int pan = pan_.load();
    const float gl = gain * std::min(1.0f, (100 - pan) / 100.0f);
    const float gr = gain * std::min(1.0f, (100 + pan) / 100.0f);

    Cursor c;
    c.avail = ring_.readable() / fmt_.chans;
    // A frame split by the ring's end (more than two channels) takes the slow way.
    const bool whole = ring_.peek(0, c.avail * fmt_.chans).size[0] % fmt_.chans == 0;
    const bool dry = rate == deviceRate && sameRateReady() && whole
                         ? !mixSameRate(acc, frames, gl, gr, c)
                         : !mixResampled(acc, frames, step, gl, gr, eof, c);
    ring_.consume(c.used * fmt_.chans);
    // A source whose last frame this pass played ends in it, not in the next
    // (silent) pass: what follows starts a period sooner.
    const bool finished = eof && (dry || nothingLeft());
    if (finished) {
        // The source is exhausted: the frame in hand, if any, has been heard.
        if (haveA_ && shift_ > 0) ++c.heard;
        haveA_ = haveB_ = false;
        shift_ = 0;
    }
    history_.publish();
    heardFrames_.fetch_add(c.heard, std::memory_order_release);
    stalled_.store(dry && !eof, std::memory_order_relaxed);
    if (finished) {
        framesBeforeEnd_ = c.out;
        endPass_.store(pass, std::memory_order_relaxed);
        endEvent_.store(true, std::memory_order_release);
        ended_.store(true, std::memory_order_release);
    } else if (fmt_.live) {
        if (!watch_.pass(frames, 0, deviceRate)) return finish(pass);
        if (dry && !eof) {
            refilling_.store(true, std::memory_order_relaxed);
            if (!watch_.ranDry(deviceRate)) return finish(pass);
        }
    }
    return finished;
}

}  // namespace kavbass
