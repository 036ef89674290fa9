// The engine's input plug-in dialog: made with the engine when a
// QApplication exists (else when first shown), freed with the engine.
#include <QApplication>
#include <QCheckBox>

#include <algorithm>
#include <filesystem>

#include "engine/BASSPlayer.h"
#include "platform/win/ProgramDir.h"
#include "plugins/PluginConfig.h"

static_assert(WM_BP_PLUGINFIRST_REQUEST == WM_BP_PLUGINFIRST);

namespace {

bool HasWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

bool IsLibraryName(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    return ext == ".dll";
}

// The libraries in the program directory's Plugins folder, named relative to
// the program directory, where the manager resolves names.
std::vector<std::string> PluginCandidates() {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(win::ProgramDir()) / "Plugins", ec))
        if (entry.is_regular_file(ec) && IsLibraryName(entry.path()))
            names.push_back("Plugins/" + entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

void TBASSPlayer::CreatePluginConfig() {
    if (!FPluginConfig && HasWidgets()) FPluginConfig = new TPluginConfigForm;
}

void TBASSPlayer::FreePluginConfig() {
    delete FPluginConfig;
    FPluginConfig = nullptr;
}

bool TBASSPlayer::ShowPluginConfig() {
    CreatePluginConfig();
    if (!FPluginConfig) return false;
    FPluginConfig->SetEngineWindow(FMessageWindow);
    FPluginConfig->PluginFirst->setChecked(FPluginFirst);
    FPluginConfig->SetCandidates(PluginCandidates());
    FPluginConfig->show();
    if (QGuiApplication::platformName() != "offscreen") FPluginConfig->raise();
    return true;
}
