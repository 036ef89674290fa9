// kavplay: plays files and network addresses through the engine without a
// window, printing the stream information at open and every engine event.
//
//   kavplay [--null] [--device N] [--max SECONDS] [--seek MS] [--info] [--library] ITEM...
//   kavplay [--null] [--device N] --plugins
//
// --null plays on the library's null output (KAV_CAPTURE_WAV=file records it),
// --device N on output device N (default 1), --max stops each item after that
// many seconds, --seek starts each item at MS, --info opens and prints only.
// Like the program, it loads in_mp3.dll and in_wave.dll from its directory
// and prefers them for the files they share with the library; --library
// plays those files through the library instead. Each item's path is printed
// ("path: library" or "path: plug-in NAME").
// --plugins opens the engine's input plug-in dialog instead (the libraries of
// the Plugins folder beside kavplay) and ends when it is closed.
// Exit status: 0 when every item opened, 1 when one did not, 2 on bad usage.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "engine/BASSPlayer.h"
#include "fileinfo/OggVorbis.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/ProgramDir.h"
#include "platform/win/Pump.h"
#include "tools/kavplay/PluginDialog.h"

namespace {

struct Options {
    bool null = false;
    int device = 1;
    double maxSeconds = 0;
    uint32_t seekMs = 0;
    bool infoOnly = false;
    bool library = false;
    bool plugins = false;
    std::vector<std::string> items;
};

void PrintInfo(const TStreamInfo& i) {
    std::printf(
        "  FileName=%s\n  FileSize=%u SampleRate=%d BitRate=%d BitsPerSample=%u Duration=%u "
        "Channels=%u\n  Title=%s\n  Artist=%s\n  Album=%s\n  Year=%s\n  Genre=%s GenreID=%u "
        "Track=%u\n  Comment=%s\n",
        i.FileName.c_str(), i.FileSize, i.SampleRate, i.BitRate, i.BitsPerSample, i.Duration,
        i.Channels, i.Title.c_str(), i.Artist.c_str(), i.Album.c_str(), i.Year.c_str(),
        i.Genre.c_str(), i.GenreID, i.Track, i.Comment.c_str());
    std::fflush(stdout);
}

void PrintChannel(const char* event, PChannelInfo c) {
    if (!c)
        std::printf("event: %s\n", event);
    else
        std::printf("event: %s bits=%u bitrate=%d rate=%d channels=%u\n", event, c->BitsPerSample,
                    c->BitRate, c->SampleRate, c->Channels);
    std::fflush(stdout);
}

int NullDevice() {
    for (int i = 1; i < 256; ++i) {
        const char* name = BASS_GetDeviceDescription(i);
        if (!name) break;
        if (std::string(name) == "No sound (null output)") return i;
    }
    return 0;
}

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--null")
            o.null = true;
        else if (a == "--info")
            o.infoOnly = true;
        else if (a == "--library")
            o.library = true;
        else if (a == "--plugins")
            o.plugins = true;
        else if (a == "--device" && hasValue)
            o.device = std::atoi(argv[++i]);
        else if (a == "--max" && hasValue)
            o.maxSeconds = std::atof(argv[++i]);
        else if (a == "--seek" && hasValue)
            o.seekMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (!a.empty() && a[0] == '-' && a != "-")
            return false;
        else
            o.items.push_back(a);
    }
    return (o.items.empty() == o.plugins) && o.device >= 1 && o.device <= 255;
}

void PrintPath(const TBASSPlayer& player) {
    if (player.ChannelKind() == CHANNEL_PLUGIN)
        std::printf("path: plug-in %s\n", GetPluginInfo(player.PluginIndex()).Name.c_str());
    else
        std::printf("path: library\n");
    std::fflush(stdout);
}

// Plays the opened item until its end (or the time limit).
void PlayItem(TBASSPlayer& player, const Options& o, bool& ended) {
    ended = false;
    player.StartPlayback();
    if (player.PlayState() != PLAYSTATE_PLAYING) {
        std::printf("start failed\n");
        return;
    }
    if (o.seekMs) player.SetPositionMs(o.seekMs);
    // No time limit: to its end, for as long as the wait can count.
    constexpr double kLongestMs = std::numeric_limits<std::uint32_t>::max();
    const double limit = o.maxSeconds > 0 ? std::ceil(o.maxSeconds * 1000) : kLongestMs;
    const auto limitMs = static_cast<std::uint32_t>(std::min(limit, kLongestMs));
    const auto playing = [&] { return !ended; };
    if (win::PumpWhile(playing, win::PumpLimit::Within(limitMs, 10, win::Rest::Real))) return;
    std::printf("stopped at %u ms of %u ms\n", player.PositionMs(), player.LengthMs());
    player.StopPlayback();
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: kavplay [--null] [--device N] [--max SECONDS] [--seek MS] [--info] "
                     "[--library] FILE-OR-ADDRESS...\n"
                     "       kavplay [--null] [--device N] --plugins\n");
        return 2;
    }
    const auto app = MakeApplication(argc, argv, o.plugins);
    StartupDevice = static_cast<uint8_t>(o.device);
    if (o.null) {
        if (!Load_BASSDLL(win::ProgramDir() + win::PathDelim + "bass.dll")) {
            std::fprintf(stderr, "kavplay: cannot load bass.dll from %s\n",
                         win::ProgramDir().c_str());
            return 1;
        }
        StartupDevice = static_cast<uint8_t>(NullDevice());
    }
    TBASSPlayer player;
    if (!player.PlayerReady()) {
        std::fprintf(stderr, "kavplay: the player is not ready (bass.dll in %s, device %u)\n",
                     win::ProgramDir().c_str(), StartupDevice);
        return 1;
    }
    // As the program starts: a missing plug-in leaves its formats to the library.
    for (const char* name : {"in_mp3.dll", "in_wave.dll"})
        if (LoadWinampPlugin(name) != PLUGIN_OK)
            std::fprintf(stderr, "kavplay: %s not loaded\n", name);
    player.SetPluginFirst(!o.library);
    if (o.plugins) return RunPluginDialog(player);
    bool ended = false;
    player.OnPlayEnd = [&](TBASSPlayer* p) {
        std::printf("event: PlayEnd position=%u\n", p->PositionMs());
        std::fflush(stdout);
        ended = true;
    };
    player.OnPluginStartPlay = [](TBASSPlayer*, PChannelInfo c) {
        PrintChannel("PluginStartPlay", c);
    };
    player.OnGetChannelInfo = [](TBASSPlayer*, PChannelInfo c) { PrintChannel("ChannelInfo", c); };
    player.OnGetMeta = [](TBASSPlayer*, const std::string& title) {
        std::printf("event: Meta %s\n", title.c_str());
        std::fflush(stdout);
    };
    player.OnDownloaded = [](TBASSPlayer*, const std::string& ms) {
        std::printf("event: Downloaded %s\n", ms.c_str());
        std::fflush(stdout);
    };
    int status = 0;
    for (const std::string& item : o.items) {
        std::printf("open: %s\n", item.c_str());
        bool opened = false;
        try {
            opened = player.OpenStream(item);
        } catch (const std::exception& e) {
            std::printf("error: %s\n", e.what());
        }
        if (!opened) {
            std::printf("open failed\n");
            status = 1;
            continue;
        }
        PrintInfo(player.StreamInfo());
        PrintPath(player);
        if (!o.infoOnly) PlayItem(player, o, ended);
    }
    return status;
}
