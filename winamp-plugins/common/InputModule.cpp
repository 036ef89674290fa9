#include "winamp-plugins/common/InputModule.h"

namespace inplug {
namespace {

In_Module module{};
InputPlayer thePlayer(module);

void Quit() {
    thePlayer.stop();
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
    module.InfoBox = own.infoBox;
    module.IsOurFile = own.isOurFile;
    module.Play = own.play;
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
