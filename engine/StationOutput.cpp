// What a station left alone asks of the engine beyond the player component:
// the level of what the output actually took, and a fresh start of the
// output device when it has stopped working.
#include "engine/BASSPlayer.h"
#include "platform/bassbind/Dynamic_BASS.h"

bool TBASSPlayer::ReadOutputLevel(BASS_OUTPUTLEVEL& level) {
    return FPlayerReady && BASS_GetOutputLevel(&level);
}

bool TBASSPlayer::ReopenOutput() {
    if (!FBassBound) return false;
    DropPrepared();
    StopPlayback();
    CloseChannel();
    FPlayState = PLAYSTATE_IDLE;
    SendVisRecord(1);
    BASS_Free();
    FPlayerReady = BASS_Init(StartupDevice, 44100, 0, reinterpret_cast<void*>(FAppWindow), nullptr);
    if (!FPlayerReady) {
        ShowBASSError("Can't initialize device");
        return false;
    }
    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, FVolume);
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, FVolume);
    BASS_GetInfo(&FDeviceInfo);  // the new device's period
    return true;
}
