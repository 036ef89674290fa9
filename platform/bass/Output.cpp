#include "Output.h"

#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "MixGate.h"
#include "Mixer.h"
#include "WavCapture.h"

namespace kavbass {

namespace {

// SDL devices with the default one first; empty when SDL has no audio.
std::vector<std::string> sdlDevices() {
    std::vector<std::string> names;
    // SIGINT and SIGTERM stay the program's: SDL would otherwise catch them
    // and turn them into a quit event nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return names;
    const int n = SDL_GetNumAudioDevices(0);
    char* defName = nullptr;
    SDL_AudioSpec format;
    if (SDL_GetDefaultAudioInfo(&defName, &format, 0) == 0 && defName) {
        names.push_back(defName);
        SDL_free(defName);
    }
    for (int i = 0; i < n; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        if (!name) continue;
        if (!names.empty() && names.front() == name) continue;
        names.push_back(name);
    }
    // Kept only while a device is open: its device watch wakes ten times a second.
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return names;
}

}  // namespace

void sdlCallback(void* user, Uint8* stream, int len) {
    Mixer& m = Mixer::instance();
    auto* frames = reinterpret_cast<int16_t*>(stream);
    const size_t count = static_cast<size_t>(len) / 4;
    m.mix(frames, count);
    static_cast<Output*>(user)->receive(frames, count);
    m.delivered();
}

Output::Output() {
    tap_.attach(&meter_, false);
}

Output::~Output() {
    close();
    setCapture(nullptr);
    tap_.detach(&meter_);
}

const std::vector<std::string>& Output::deviceNames() {
    static const std::vector<std::string> names = [] {
        auto v = sdlDevices();
        v.push_back(kNullName);
        return v;
    }();
    return names;
}

bool Output::open(int device, DWORD freq, int& error) {
    const auto& names = deviceNames();
    const int count = static_cast<int>(names.size());
    if (device == -1) device = 1;
    if (device == 0) device = count;  // "no sound" is the null output
    if (device < 1 || device > count) return error = BASS_ERROR_DEVICE, false;
    rate_ = freq >= 8000 && freq <= 192000 ? freq : 44100;
    Mixer::instance().setRate(rate_);
    if (device == count) {
        openNull();
    } else if (!openSdl(device, error)) {
        return false;
    }
    device_ = device;
    return true;
}

bool Output::openSdl(int device, int& error) {
    SDL_AudioSpec want{}, have{};
    want.freq = static_cast<int>(rate_);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = sdlCallback;
    want.userdata = this;
    // Device 1 is the system default; the others are opened by name.
    const char* name = device == 1 ? nullptr : deviceNames()[device - 1].c_str();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return error = BASS_ERROR_DEVICE, false;
    sdlDevice_ = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (sdlDevice_ == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return error = BASS_ERROR_DEVICE, false;
    }
    latencyMs_ = static_cast<DWORD>(1000 * have.samples / rate_);
    SDL_PauseAudioDevice(sdlDevice_, 0);
    return true;
}

// An output reopened with the same capture goes on writing it.
void Output::setCapture(const char* path) {
    const bool wanted = path && *path;
    if (wanted && capture_ && capture_->path() == path && capture_->rate() == rate_) return;
    if (capture_) {
        tap_.detach(&capture_->ring());
        capture_.reset();
    }
    if (!wanted) return;
    capture_ = std::make_unique<WavCapture>(path, rate_);
    tap_.attach(&capture_->ring(), true);
}

void Output::flushCapture() {
    if (capture_) capture_->flush();
}

void Output::openNull() {
    setCapture(std::getenv("KAV_CAPTURE_WAV"));
    const char* pace = std::getenv("KAV_NULL_PACE");
    paced_ = !(pace && std::strcmp(pace, "0") == 0);
    latencyMs_ = 10;
    stopNull_.store(false);
    nullThread_ = std::thread([this] { nullLoop(); });
}

// Consumes one 10 ms period at a time, at real-time pace unless told not to;
// unpaced, it waits until every playing channel can fill the period (a
// channel it waits for raises the playing signal once it has read) and every
// consumer that wants all the sound (the capture) has room for it. With
// nothing to play it sleeps until something starts, unless a consumer of the
// tap wants the silence too (the capture, a stream output): it then runs on.
void Output::nullLoop() {
    using clock = std::chrono::steady_clock;
    const size_t period = rate_ / 100;
    std::vector<int16_t> buf(period * 2);
    auto next = clock::now();
    Mixer& mixer = Mixer::instance();
    Signal& playing = MixGate::instance().playing;
    while (!stopNull_.load()) {
        const uint32_t seen = playing.seen();
        if (!tap_.continuous() && mixer.idle()) {
            if (!stopNull_.load()) playing.wait(seen);
            next = clock::now();
            continue;
        }
        if (paced_) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            if (clock::now() - next > std::chrono::milliseconds(200)) next = clock::now();
        } else if (!mixer.readyToMix(period)) {
            if (!stopNull_.load()) playing.wait(seen);
            continue;
        } else if (!tap_.roomFor(period)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        mixer.mix(buf.data(), period);
        receive(buf.data(), period);
        mixer.delivered();
    }
}

void Output::close() {
    if (sdlDevice_) {
        SDL_CloseAudioDevice(sdlDevice_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlDevice_ = 0;
    }
    if (nullThread_.joinable()) {
        stopNull_.store(true);
        MixGate::instance().playing.raise();
        nullThread_.join();
    }
    // Everything the output took is in the file when the library is freed.
    flushCapture();
    device_ = 0;
}

}  // namespace kavbass
