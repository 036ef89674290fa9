// basstool: tries the audio library by hand.
//   basstool devices                 list the output devices
//   basstool [-d N] play FILE|URL... play each in turn, printing syncs and metadata
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/bassbind/DRT_BASSWMA.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/ProgramDir.h"

namespace {

std::atomic<bool> ended{false};

void onEnd(HSYNC, DWORD channel, DWORD_PTR, void*) {
    std::printf("[sync] end of playback (channel %u)\n", channel);
    ended.store(true);
}

void onMeta(HSYNC, DWORD, DWORD_PTR data, void*) {
    std::printf("[sync] metadata: %s\n", data ? reinterpret_cast<const char*>(data) : "");
}

void onDownload(HSYNC, DWORD, DWORD_PTR, void*) {
    std::printf("[sync] download complete\n");
}

void printList(const char* label, const char* list) {
    if (!list) return;
    for (const char* p = list; *p; p += std::strlen(p) + 1) std::printf("%s %s\n", label, p);
}

int listDevices() {
    for (int n = 1; const char* name = BASS_GetDeviceDescription(n); ++n)
        std::printf("%d: %s\n", n, name);
    return 0;
}

// Opens name the way the player does: stream, WMA stream, then music.
DWORD openAny(const std::string& name, bool& music) {
    music = false;
    const bool address = name.find("://") != std::string::npos;
    DWORD h = address ? BASS_StreamCreateURL(name.c_str(), 0, BASS_STREAM_META, nullptr, nullptr)
                      : BASS_StreamCreateFile(FALSE, name.c_str(), 0, 0, 0);
    if (!h && BASSWMA_Loaded())
        h = BASS_WMA_StreamCreateFile(FALSE, name.c_str(), 0, 0, address ? BASS_WMA_URL : 0);
    if (!h && !address) {
        h = BASS_MusicLoad(FALSE, name.c_str(), 0, 0, BASS_MUSIC_CALCLEN, 0);
        music = h != 0;
    }
    return h;
}

void playOne(const std::string& name) {
    bool music = false;
    DWORD h = openAny(name, music);
    if (!h) {
        std::printf("%s: cannot open (error %d)\n", name.c_str(), BASS_ErrorGetCode());
        return;
    }
    BASS_CHANNELINFO info{};
    BASS_ChannelGetInfo(h, &info);
    const QWORD len = music ? BASS_MusicGetLength(h, TRUE) : BASS_StreamGetLength(h);
    std::printf("%s: %u Hz, %u channel(s), type 0x%x, %.3f s, size %u\n", name.c_str(), info.freq,
                info.chans, info.ctype, BASS_ChannelBytes2Seconds(h, len),
                BASS_StreamGetFilePosition(h, BASS_FILEPOS_END));
    printList("  http:", BASS_StreamGetTags(h, BASS_TAG_HTTP));
    printList("  icy:", BASS_StreamGetTags(h, BASS_TAG_ICY));
    printList("  ogg:", BASS_StreamGetTags(h, BASS_TAG_OGG));
    if (const char* meta = BASS_StreamGetTags(h, BASS_TAG_META)) std::printf("  meta: %s\n", meta);
    ended.store(false);
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, onEnd, nullptr);
    BASS_ChannelSetSync(h, BASS_SYNC_META, 0, onMeta, nullptr);
    BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, onDownload, nullptr);
    if (!(music ? BASS_MusicPlay(h) : BASS_StreamPlay(h, FALSE, 0))) {
        std::printf("cannot play (error %d)\n", BASS_ErrorGetCode());
    }
    while (!ended.load() && BASS_ChannelIsActive(h) != BASS_ACTIVE_STOPPED) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::printf("  %.1f s\r", BASS_ChannelBytes2Seconds(h, BASS_ChannelGetPosition(h)));
        std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    music ? BASS_MusicFree(h) : BASS_StreamFree(h);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = win::ProgramDir();
    if (!Load_BASSDLL(dir + "/bass.dll")) {
        std::fprintf(stderr, "cannot load %s/bass.dll\n", dir.c_str());
        return 1;
    }
    Load_BASSWMADLL(dir + "/basswma.dll");
    std::vector<std::string> args(argv + 1, argv + argc);
    int device = -1;
    if (args.size() >= 2 && args[0] == "-d") {
        device = std::atoi(args[1].c_str());
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || (args[0] != "devices" && args[0] != "play")) {
        std::fprintf(stderr, "usage: basstool devices | basstool [-d N] play FILE|URL...\n");
        return 2;
    }
    if (args[0] == "devices") return listDevices();
    BASS_SetConfig(BASS_CONFIG_MAXVOL, 255);
    if (!BASS_Init(device, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "cannot open device %d (error %d)\n", device, BASS_ErrorGetCode());
        return 1;
    }
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 255);
    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 255);
    std::printf("device %u: %s\n", BASS_GetDevice(),
                BASS_GetDeviceDescription(int(BASS_GetDevice())));
    for (size_t i = 1; i < args.size(); ++i) playOne(args[i]);
    Unload_BASSWMADLL();
    Unload_BASSDLL();
    return 0;
}
