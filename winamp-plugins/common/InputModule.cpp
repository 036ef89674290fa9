#include "winamp-plugins/common/InputModule.h"

#include <utility>

#include "winamp-plugins/common/PluginText.h"

namespace inplug {
namespace {

In_Module module{};
InputPlayer thePlayer(module);
int (*ownPlay)(char* fn) = nullptr;
std::string playing;

void Quit() {
    thePlayer.stop();
}
int InfoBox(char* file, HWND) {
    showBox("Information", file ? file : playing);
    return 0;
}
int IsOurFile(char*) {
    return 0;
}
// The path is the playing one already while the player starts (the host may
// ask for its title then); a file that cannot be opened leaves the old one.
int Play(char* fn) {
    std::string before = std::exchange(playing, fn ? fn : "");
    const int result = ownPlay(fn);
    if (result == -1) playing = std::move(before);
    return result;
}
void Pause() {
    thePlayer.pause();
}
void UnPause() {
    thePlayer.unpause();
}
int IsPaused() {
    return thePlayer.isPaused() ? 1 : 0;
}
void Stop() {
    thePlayer.stop();
}
int GetLength() {
    return thePlayer.lengthMs();
}
int GetOutputTime() {
    return thePlayer.outputTimeMs();
}
void SetOutputTime(int ms) {
    thePlayer.seek(ms);
}
void SetVolume(int volume) {
    module.outMod->SetVolume(volume);
}
void SetPan(int pan) {
    module.outMod->SetPan(pan);
}
void EQSet(int, char*, int) {}
void NoInit() {}

}  // namespace

InputPlayer& player() {
    return thePlayer;
}

const std::string& playingPath() {
    return playing;
}

In_Module* inputModule(const PluginParts& own) {
    module.version = IN_VER;
    module.description = own.description;
    module.FileExtensions = own.extensions;
    module.is_seekable = 1;
    module.UsesOutputPlug = 1;
    module.Config = own.config;
    module.About = own.about;
    module.Init = own.init ? own.init : NoInit;
    module.Quit = Quit;
    module.GetFileInfo = own.getFileInfo;
    module.InfoBox = InfoBox;
    module.IsOurFile = IsOurFile;
    module.Play = Play;
    ownPlay = own.play;
    module.Pause = Pause;
    module.UnPause = UnPause;
    module.IsPaused = IsPaused;
    module.Stop = Stop;
    module.GetLength = GetLength;
    module.GetOutputTime = GetOutputTime;
    module.SetOutputTime = SetOutputTime;
    module.SetVolume = SetVolume;
    module.SetPan = SetPan;
    module.EQSet = EQSet;
    return &module;
}

}  // namespace inplug
