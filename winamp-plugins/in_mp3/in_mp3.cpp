// in_mp3: the input plug-in for MPEG audio layers 1, 2 and 3.
#include <string>

#include "winamp-plugins/common/InputModule.h"
#include "winamp-plugins/common/PluginText.h"
#include "winamp-plugins/in_mp3/MpegDecoder.h"

namespace {

std::string playingTitle;  // the title of the file Play opened, read then

char description[] = "KAV MPEG audio decoder";
char extensions[] = "MP3;MP2;MP1\0MPEG audio files (*.MP3;*.MP2;*.MP1)\0";

void Config(HWND) {
    inplug::showBox("Confirm", "The MPEG audio decoder has no settings.");
}
void About(HWND) {
    inplug::showBox("Confirm", "KAV MPEG audio decoder: layers 1, 2 and 3, gapless.");
}
void Init() {
    inmp3::initLibrary();
}

std::string titleOf(inmp3::MpegDecoder* decoder, const std::string& path) {
    std::string title = decoder ? decoder->tagTitle() : std::string();
    return title.empty() ? inplug::titleFromPath(path) : title;
}

void GetFileInfo(char* file, char* title, int* length_in_ms) {
    if (!file || !*file) {
        inplug::copyTitle(playingTitle, title);
        if (length_in_ms) *length_in_ms = inplug::player().lengthMs();
        return;
    }
    const auto decoder = inmp3::MpegDecoder::open(file);
    inplug::copyTitle(titleOf(decoder.get(), file), title);
    if (length_in_ms) *length_in_ms = decoder ? decoder->format().lengthMs : -1;
}

int Play(char* fn) {
    auto decoder = inmp3::MpegDecoder::open(fn ? fn : "");
    if (!decoder) return -1;
    playingTitle = titleOf(decoder.get(), fn);
    return inplug::player().play(std::move(decoder));
}

}  // namespace

KAV_WINAMP_EXPORT In_Module* winampGetInModule2() {
    return inplug::inputModule({description, extensions, Config, About, Init, GetFileInfo, Play});
}
