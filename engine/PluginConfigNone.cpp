// The engine's plug-in dialog in a build without widgets: there is none.
#include "engine/BASSPlayer.h"

void TBASSPlayer::CreatePluginConfig() {}
void TBASSPlayer::FreePluginConfig() {}

bool TBASSPlayer::ShowPluginConfig() {
    return false;
}
