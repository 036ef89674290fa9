// in_wave: the input plug-in for RIFF WAVE files.
#include <string>

#include "winamp-plugins/common/InputModule.h"
#include "winamp-plugins/common/PluginText.h"
#include "winamp-plugins/in_wave/WavDecoder.h"

namespace {

char description[] = "KAV WAVE decoder";
char extensions[] = "WAV\0WAVE audio files (*.WAV)\0";

void Config(HWND) {
    inplug::showBox("Confirm", "The WAVE decoder has no settings.");
}
void About(HWND) {
    inplug::showBox("Confirm", "KAV WAVE decoder: PCM and float WAVE files.");
}

void GetFileInfo(char* file, char* title, int* length_in_ms) {
    const bool current = !file || !*file;
    const std::string path = current ? inplug::playingPath() : std::string(file);
    inplug::copyTitle(inplug::titleFromPath(path), title);
    if (!length_in_ms) return;
    if (current) {
        *length_in_ms = inplug::player().lengthMs();
    } else {
        const auto decoder = inwave::WavDecoder::open(path);
        *length_in_ms = decoder ? decoder->format().lengthMs : -1;
    }
}

int Play(char* fn) {
    auto decoder = inwave::WavDecoder::open(fn ? fn : "");
    if (!decoder) return -1;
    return inplug::player().play(std::move(decoder));
}

}  // namespace

KAV_WINAMP_EXPORT In_Module* winampGetInModule2() {
    return inplug::inputModule(
        {description, extensions, Config, About, nullptr, GetFileInfo, Play});
}
