// The exported C functions of bass.dll.
#include <cmath>
#include <cstring>

#include "Fft.h"
#include "Library.h"
#include "Mixer.h"
#include "UserSource.h"
#include "bass_export.h"

using namespace kavbass;

namespace {

Library& lib() {
    return Library::instance();
}

template <typename T>
T fail(int code, T result) {
    setError(code);
    return result;
}

BOOL ok() {
    setError(BASS_OK);
    return TRUE;
}

std::shared_ptr<Channel> find(DWORD handle) {
    auto c = lib().channel(handle);
    if (!c) setError(BASS_ERROR_HANDLE);
    return c;
}

std::atomic<DWORD> configs[32] = {};

// Magnitudes of n frames of interleaved samples: of their mix to mono, or of
// each channel with the channels' values interleaved.
void spectrum(const std::vector<int16_t>& pcm, size_t n, size_t ch, bool individual, float* out) {
    for (size_t k = 0; k < (individual ? ch : 1); ++k) {
        std::vector<float> block(n);
        for (size_t i = 0; i < n; ++i) {
            float v = 0;
            if (individual) {
                v = pcm[i * ch + k];
            } else {
                for (size_t j = 0; j < ch; ++j) v += pcm[i * ch + j];
                v /= static_cast<float>(ch);
            }
            block[i] = v / 32768.0f;
        }
        const auto mag = magnitudeSpectrum(block);
        for (size_t b = 0; b < mag.size(); ++b) out[individual ? b * ch + k : b] = mag[b];
    }
}

// What to open: a block in memory, or a path or address.
OpenRequest sourceRequest(BOOL mem, const void* file, DWORD offset, DWORD length) {
    OpenRequest req;
    if (mem) {
        req.memory = static_cast<const uint8_t*>(file) + offset;
        req.memorySize = length;
    } else {
        req.url = static_cast<const char*>(file);
    }
    return req;
}

}  // namespace

extern "C" {

BASS_API DWORD BASS_GetVersion() {
    return BASSVERSION;
}

BASS_API DWORD BASS_SetConfig(DWORD option, DWORD value) {
    Mixer& m = Mixer::instance();
    switch (option) {
        case BASS_CONFIG_MAXVOL:
            m.maxVolume.store(value ? value : 1);
            break;
        case BASS_CONFIG_GVOL_STREAM:
            m.streamVolume.store(value);
            break;
        case BASS_CONFIG_GVOL_MUSIC:
            m.musicVolume.store(value);
            break;
        default:
            if (option >= 32) return fail(BASS_ERROR_ILLTYPE, 0xFFFFFFFFu);
            configs[option] = value;
    }
    setError(BASS_OK);
    return value;
}

BASS_API DWORD BASS_GetConfig(DWORD option) {
    Mixer& m = Mixer::instance();
    setError(BASS_OK);
    switch (option) {
        case BASS_CONFIG_MAXVOL:
            return m.maxVolume.load();
        case BASS_CONFIG_GVOL_STREAM:
            return m.streamVolume.load();
        case BASS_CONFIG_GVOL_MUSIC:
            return m.musicVolume.load();
        default:
            return option < 32 ? configs[option].load() : fail(BASS_ERROR_ILLTYPE, 0xFFFFFFFFu);
    }
}

BASS_API BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* /*win*/, void* /*clsid*/) {
    int error = BASS_OK;
    if (!lib().init(device, freq, flags, error)) return fail(error, FALSE);
    return ok();
}

BASS_API BOOL BASS_Free() {
    return lib().free() ? ok() : fail(BASS_ERROR_INIT, FALSE);
}

BASS_API int BASS_ErrorGetCode() {
    return lastError();
}

BASS_API BOOL BASS_GetInfo(BASS_INFO* info) {
    if (!lib().initialized()) return fail(BASS_ERROR_INIT, FALSE);
    if (!info) return fail(BASS_ERROR_ILLPARAM, FALSE);
    std::memset(info, 0, sizeof *info);
    info->size = sizeof *info;
    info->minrate = 8000;
    info->maxrate = 192000;
    info->minbuf = lib().latencyMs();
    info->dsver = 9;
    info->latency = lib().latencyMs();
    info->initflags = lib().initFlags();
    info->speakers = 2;
    info->freq = lib().outputRate();
    return ok();
}

BASS_API const char* BASS_GetDeviceDescription(int device) {
    const auto& names = Output::deviceNames();
    if (device < 1 || device > static_cast<int>(names.size()))
        return fail<const char*>(BASS_ERROR_DEVICE, nullptr);
    setError(BASS_OK);
    return names[device - 1].c_str();
}

BASS_API DWORD BASS_GetDevice() {
    if (!lib().initialized()) return fail(BASS_ERROR_INIT, 0xFFFFFFFFu);
    setError(BASS_OK);
    return static_cast<DWORD>(lib().device());
}

// The first call arms the measurement (nothing is measured before) and
// reports nothing; one thread reads it.
BASS_API BOOL BASS_GetOutputLevel(BASS_OUTPUTLEVEL* level) {
    if (!level) return fail(BASS_ERROR_ILLPARAM, FALSE);
    if (!lib().initialized()) return fail(BASS_ERROR_INIT, FALSE);
    const LevelMeter::Reading r = lib().outputMeter().read();
    level->frames = r.frames;
    level->loudest = r.loudestDb;
    level->reserved = 0;
    return ok();
}

// Taps: rings of what the output takes, 100 ms to 60 s long, each read by
// one thread; they need no device and outlive BASS_Free.
BASS_API HTAP BASS_TapCreate(DWORD ms) {
    if (ms < 100 || ms > 60000) return fail(BASS_ERROR_ILLPARAM, 0u);
    const HTAP h = lib().createTap(ms);
    return h ? (setError(BASS_OK), h) : fail(BASS_ERROR_NOCHAN, 0u);
}

// What the tap holds, up to length bytes in whole frames, at once: the
// bytes given (0 when nothing has come), or -1 for a bad handle.
BASS_API DWORD BASS_TapRead(HTAP tap, void* buffer, DWORD length) {
    auto ring = lib().tap(tap);
    if (!ring) return fail(BASS_ERROR_HANDLE, 0xFFFFFFFFu);
    if (!buffer && length) return fail(BASS_ERROR_ILLPARAM, 0xFFFFFFFFu);
    setError(BASS_OK);
    return DWORD(ring->read(static_cast<int16_t*>(buffer), length / 4) * 4);
}

BASS_API BOOL BASS_TapGetInfo(HTAP tap, BASS_TAPINFO* info) {
    if (!info) return fail(BASS_ERROR_ILLPARAM, FALSE);
    auto ring = lib().tap(tap);
    if (!ring) return fail(BASS_ERROR_HANDLE, FALSE);
    info->freq = Mixer::instance().rate();
    info->chans = 2;
    info->lost = ring->lost();
    return ok();
}

BASS_API BOOL BASS_TapFree(HTAP tap) {
    return lib().freeTap(tap) ? ok() : fail(BASS_ERROR_HANDLE, FALSE);
}

BASS_API HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length,
                                       DWORD /*flags*/) {
    if (!file) return fail(BASS_ERROR_FILEOPEN, 0u);
    OpenRequest req = sourceRequest(mem, file, offset, length);
    int error = BASS_OK;
    DWORD h = lib().createDecoded(req, false, error);
    return h ? (setError(BASS_OK), h) : fail(error, 0u);
}

BASS_API HSTREAM BASS_StreamCreateURL(const char* url, DWORD /*offset*/, DWORD flags,
                                      void* /*downloadproc*/, void* /*user*/) {
    if (!url) return fail(BASS_ERROR_FILEOPEN, 0u);
    int error = BASS_OK;
    DWORD h = lib().createUrl(url, flags, error);
    return h ? (setError(BASS_OK), h) : fail(error, 0u);
}

BASS_API HMUSIC BASS_MusicLoad(BOOL mem, const void* file, DWORD offset, DWORD length,
                               DWORD /*flags*/, DWORD freq) {
    if (!file) return fail(BASS_ERROR_FILEOPEN, 0u);
    OpenRequest req = sourceRequest(mem, file, offset, length);
    req.family = Family::Music;
    req.musicRate = freq ? freq : lib().outputRate();
    int error = BASS_OK;
    DWORD h = lib().createDecoded(req, true, error);
    return h ? (setError(BASS_OK), h) : fail(error, 0u);
}

BASS_API HSTREAM BASS_StreamCreate(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc,
                                   void* user) {
    if (!lib().initialized()) return fail(BASS_ERROR_INIT, 0u);
    if (!proc || chans < 1 || chans > 8) return fail(BASS_ERROR_ILLPARAM, 0u);
    if (freq < 100 || freq > 192000) return fail(BASS_ERROR_FREQ, 0u);
    ChannelFormat f;
    f.freq = freq;
    f.chans = chans;
    f.flags = flags & BASS_SAMPLE_8BITS;
    f.userStream = true;
    f.seekable = false;
    const DWORD h = lib().newHandle();
    auto src = std::make_unique<UserSource>(h, chans, f.flags != 0, proc, user);
    Entry e;
    e.channel = std::make_shared<Channel>(h, f, std::move(src), std::make_shared<TagStore>());
    if (!lib().add(e)) {
        e.channel->shutdown();
        return fail(BASS_ERROR_NOCHAN, 0u);
    }
    setError(BASS_OK);
    return h;
}

BASS_API BOOL BASS_StreamFree(HSTREAM handle) {
    auto c = find(handle);
    if (!c) return FALSE;
    if (c->isMusic()) return fail(BASS_ERROR_HANDLE, FALSE);
    c.reset();
    return lib().remove(handle) ? ok() : fail(BASS_ERROR_HANDLE, FALSE);
}

BASS_API BOOL BASS_MusicFree(HMUSIC handle) {
    auto c = find(handle);
    if (!c) return FALSE;
    if (!c->isMusic()) return fail(BASS_ERROR_HANDLE, FALSE);
    c.reset();
    return lib().remove(handle) ? ok() : fail(BASS_ERROR_HANDLE, FALSE);
}

BASS_API BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD /*flags*/) {
    auto c = find(handle);
    if (!c) return FALSE;
    if (c->isMusic()) return fail(BASS_ERROR_HANDLE, FALSE);
    return c->play(flush != FALSE) ? ok() : fail(BASS_ERROR_START, FALSE);
}

BASS_API BOOL BASS_MusicPlay(HMUSIC handle) {
    auto c = find(handle);
    if (!c) return FALSE;
    if (!c->isMusic()) return fail(BASS_ERROR_HANDLE, FALSE);
    return c->play(false) ? ok() : fail(BASS_ERROR_START, FALSE);
}

// Beyond the 2.0 interface: a stream primed now, started on the mixer at the
// sample after the last one of `previous` (which must be playing), so that the
// two join without a gap. Playing, stopping or freeing it cancels that.
BASS_API BOOL BASS_StreamPlayAfter(HSTREAM handle, DWORD previous) {
    auto c = find(handle);
    if (!c) return FALSE;
    if (c->isMusic()) return fail(BASS_ERROR_HANDLE, FALSE);
    auto p = find(previous);
    if (!p) return FALSE;
    if (p == c) return fail(BASS_ERROR_ILLPARAM, FALSE);
    const DWORD state = p->active();
    if (state != BASS_ACTIVE_PLAYING && state != BASS_ACTIVE_STALLED)
        return fail(BASS_ERROR_NOPLAY, FALSE);
    return c->queueAfter(previous) ? ok() : fail(BASS_ERROR_START, FALSE);
}

BASS_API BOOL BASS_ChannelStop(DWORD handle) {
    auto c = find(handle);
    if (!c) return FALSE;
    c->stop();
    return ok();
}

BASS_API BOOL BASS_ChannelPause(DWORD handle) {
    auto c = find(handle);
    if (!c) return FALSE;
    return c->pause() ? ok() : fail(BASS_ERROR_NOPLAY, FALSE);
}

BASS_API BOOL BASS_ChannelResume(DWORD handle) {
    auto c = find(handle);
    if (!c) return FALSE;
    return c->resume() ? ok() : fail(BASS_ERROR_NOPAUSE, FALSE);
}

BASS_API DWORD BASS_ChannelIsActive(DWORD handle) {
    auto c = find(handle);
    if (!c) return BASS_ACTIVE_STOPPED;
    setError(BASS_OK);
    const DWORD state = c->active();
    // An end seen here is in the capture too, as one told by a sync is.
    if (state == BASS_ACTIVE_STOPPED) lib().flushCapture();
    return state;
}

BASS_API BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
    auto c = find(handle);
    if (!c) return FALSE;
    if (!info) return fail(BASS_ERROR_ILLPARAM, FALSE);
    const ChannelFormat& f = c->format();
    *info = BASS_CHANNELINFO{f.freq, f.chans, f.flags, f.ctype};
    return ok();
}

BASS_API QWORD BASS_StreamGetLength(HSTREAM handle) {
    auto c = find(handle);
    if (!c) return ~QWORD(0);
    lib().learnLength(handle);
    // Unknown (a live stream): -1, as a QWORD, with "not available".
    const int64_t len = c->lengthFrames();
    if (len < 0) return fail(BASS_ERROR_NOTAVAIL, ~QWORD(0));
    setError(BASS_OK);
    return static_cast<QWORD>(len) * c->bytesPerFrame();
}

BASS_API DWORD BASS_MusicGetLength(HMUSIC handle, BOOL playlen) {
    auto c = find(handle);
    if (!c) return 0xFFFFFFFFu;
    if (!c->isMusic()) return fail(BASS_ERROR_HANDLE, 0xFFFFFFFFu);
    if (!playlen || c->lengthFrames() < 0) return fail(BASS_ERROR_NOTAVAIL, 0xFFFFFFFFu);
    setError(BASS_OK);
    return static_cast<DWORD>(c->lengthFrames() * c->bytesPerFrame());
}

BASS_API QWORD BASS_ChannelGetPosition(DWORD handle) {
    auto c = find(handle);
    if (!c) return ~QWORD(0);
    setError(BASS_OK);
    return c->positionFrames() * c->bytesPerFrame();
}

BASS_API float BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
    auto c = find(handle);
    if (!c) return -1.0f;
    setError(BASS_OK);
    return static_cast<float>(static_cast<double>(pos) /
                              (static_cast<double>(c->format().freq) * c->bytesPerFrame()));
}

BASS_API QWORD BASS_ChannelSeconds2Bytes(DWORD handle, float pos) {
    auto c = find(handle);
    if (!c) return ~QWORD(0);
    setError(BASS_OK);
    if (!(pos > 0.0f)) return 0;
    return static_cast<QWORD>(std::llround(static_cast<double>(pos) * c->format().freq)) *
           c->bytesPerFrame();
}

BASS_API BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    auto c = find(handle);
    if (!c) return FALSE;
    const QWORD frame = pos / c->bytesPerFrame();
    const int64_t len = c->lengthFrames();
    if (len >= 0 && frame > static_cast<QWORD>(len)) return fail(BASS_ERROR_POSITION, FALSE);
    if (!c->format().seekable) return fail(BASS_ERROR_NOTFILE, FALSE);
    return c->seekFrames(frame) ? ok() : fail(BASS_ERROR_POSITION, FALSE);
}

BASS_API DWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
    Entry e;
    if (!lib().entry(handle, e)) return fail(BASS_ERROR_HANDLE, 0xFFFFFFFFu);
    setError(BASS_OK);
    if (mode == BASS_FILEPOS_END) {
        return e.fileSize < 0 ? fail(BASS_ERROR_NOTAVAIL, 0xFFFFFFFFu)
                              : static_cast<DWORD>(e.fileSize);
    }
    if (e.feed) return static_cast<DWORD>(e.feed->received());
    if (e.fileSize < 0) return fail(BASS_ERROR_NOTAVAIL, 0xFFFFFFFFu);
    if (mode == BASS_FILEPOS_DOWNLOAD) return static_cast<DWORD>(e.fileSize);
    const int64_t len = e.channel->lengthFrames();
    if (len <= 0) return 0;
    const double share =
        static_cast<double>(e.channel->positionFrames()) / static_cast<double>(len);
    return static_cast<DWORD>(std::min(1.0, share) * static_cast<double>(e.fileSize));
}

BASS_API const char* BASS_StreamGetTags(HSTREAM handle, DWORD tags) {
    auto c = find(handle);
    if (!c) return nullptr;
    const char* t = c->tags().get(tags);
    return t ? (setError(BASS_OK), t) : fail<const char*>(BASS_ERROR_NOTAVAIL, nullptr);
}

BASS_API HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD /*param*/, SYNCPROC* proc,
                                   void* user) {
    auto c = find(handle);
    if (!c) return 0;
    if (!proc) return fail(BASS_ERROR_ILLPARAM, 0u);
    if (type != BASS_SYNC_END && type != BASS_SYNC_META && type != BASS_SYNC_DOWNLOAD)
        return fail(BASS_ERROR_ILLTYPE, 0u);
    setError(BASS_OK);
    bool firesNow = false;
    const HSYNC sync = c->addSync(lib().newSyncHandle(), type, proc, user, firesNow);
    if (firesNow) lib().post(handle, type, std::string(), sync);
    if (type == BASS_SYNC_DOWNLOAD) lib().wakeSyncs();
    return sync;
}

BASS_API BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
    auto c = find(handle);
    if (!c) return FALSE;
    return c->removeSync(sync) ? ok() : fail(BASS_ERROR_HANDLE, FALSE);
}

BASS_API DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    auto c = find(handle);
    if (!c) return 0xFFFFFFFFu;
    if (!buffer) return fail(BASS_ERROR_ILLPARAM, 0xFFFFFFFFu);
    const size_t ch = c->format().chans;
    if (length & 0x80000000u) {
        // FFT: 512 << (low bits) samples per channel, half as many magnitudes.
        const size_t n = size_t(512) << (length & 7);
        if (n > 4096) return fail(BASS_ERROR_ILLPARAM, 0xFFFFFFFFu);
        std::vector<int16_t> pcm(n * ch);
        if (!c->recentSamples(pcm.data(), n)) return fail(BASS_ERROR_NOPLAY, 0xFFFFFFFFu);
        spectrum(pcm, n, ch, (length & BASS_DATA_FFT_INDIVIDUAL) != 0, static_cast<float*>(buffer));
        setError(BASS_OK);
        return static_cast<DWORD>(n * ch * 2);
    }
    const size_t frames = std::min<size_t>(length / (2 * ch), 4096);
    if (!c->recentSamples(static_cast<int16_t*>(buffer), frames))
        return fail(BASS_ERROR_NOPLAY, 0xFFFFFFFFu);
    setError(BASS_OK);
    return static_cast<DWORD>(frames * ch * 2);
}

BASS_API BOOL BASS_ChannelSetAttributes(DWORD handle, int freq, int volume, int pan) {
    auto c = find(handle);
    if (!c) return FALSE;
    c->setAttributes(freq, volume, pan);
    return ok();
}

BASS_API BOOL BASS_ChannelGetAttributes(DWORD handle, DWORD* freq, DWORD* volume, int* pan) {
    auto c = find(handle);
    if (!c) return FALSE;
    c->getAttributes(freq, volume, pan);
    return ok();
}

// Entry points of the WMA add-on, which lives in basswma.dll and calls these.
// The address flag is not needed to tell files from addresses: "://" does.
BASS_API HSTREAM kavbass_WmaStreamCreate(BOOL mem, const void* file, DWORD offset, DWORD length,
                                         DWORD /*flags*/) {
    if (!file) return fail(BASS_ERROR_FILEOPEN, 0u);
    OpenRequest req;
    req.family = Family::Wma;
    if (mem) {
        req.memory = static_cast<const uint8_t*>(file) + offset;
        req.memorySize = length;
    } else {
        req.url = static_cast<const char*>(file);
    }
    int error = BASS_OK;
    DWORD h = lib().createWma(req, error);
    return h ? (setError(BASS_OK), h) : fail(error, 0u);
}

BASS_API void kavbass_SetError(int code) {
    setError(code);
}

}  // extern "C"
