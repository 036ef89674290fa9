// in_wave: the input plug-in for RIFF WAVE files.
#include <string>

#include "platform/winamp/In_Module.h"
#include "winamp-plugins/common/InputPlayer.h"
#include "winamp-plugins/common/PluginText.h"
#include "winamp-plugins/in_wave/WavDecoder.h"

namespace {

extern In_Module module;
inplug::InputPlayer player(module);
std::string playing;  // the path given to Play, on the host's thread

char description[] = "KAV WAVE decoder";
char extensions[] = "WAV\0WAVE audio files (*.WAV)\0";

void Config(HWND) {
    inplug::showBox("Confirm", "The WAVE decoder has no settings.");
}
void About(HWND) {
    inplug::showBox("Confirm", "KAV WAVE decoder: PCM and float WAVE files.");
}
void Init() {}
void Quit() {
    player.stop();
}

void GetFileInfo(char* file, char* title, int* length_in_ms) {
    const bool current = !file || !*file;
    const std::string path = current ? playing : std::string(file);
    inplug::copyTitle(inplug::titleFromPath(path), title);
    if (!length_in_ms) return;
    if (current) {
        *length_in_ms = player.lengthMs();
    } else {
        const auto decoder = inwave::WavDecoder::open(path);
        *length_in_ms = decoder ? decoder->format().lengthMs : -1;
    }
}

int InfoBox(char* file, HWND) {
    inplug::showBox("Information", file ? file : playing);
    return 0;
}
int IsOurFile(char*) {
    return 0;
}

int Play(char* fn) {
    auto decoder = inwave::WavDecoder::open(fn ? fn : "");
    if (!decoder) return -1;
    playing = fn;
    return player.play(std::move(decoder));
}

void Pause() {
    player.pause();
}
void UnPause() {
    player.unpause();
}
int IsPaused() {
    return player.isPaused() ? 1 : 0;
}
void Stop() {
    player.stop();
}
int GetLength() {
    return player.lengthMs();
}
int GetOutputTime() {
    return player.outputTimeMs();
}
void SetOutputTime(int ms) {
    player.seek(ms);
}
void SetVolume(int volume) {
    module.outMod->SetVolume(volume);
}
void SetPan(int pan) {
    module.outMod->SetPan(pan);
}
void EQSet(int, char*, int) {}

In_Module module = {
    IN_VER,        description, nullptr, nullptr,  extensions,  1,         1,
    Config,        About,       Init,    Quit,     GetFileInfo, InfoBox,   IsOurFile,
    Play,          Pause,       UnPause, IsPaused, Stop,        GetLength, GetOutputTime,
    SetOutputTime, SetVolume,   SetPan,  nullptr,  nullptr,     nullptr,   nullptr,
    nullptr,       nullptr,     nullptr, nullptr,  nullptr,     nullptr,   nullptr,
    EQSet,         nullptr,     nullptr,
};

}  // namespace

KAV_WINAMP_EXPORT In_Module* winampGetInModule2() {
    return &module;
}
