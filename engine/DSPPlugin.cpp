// The engine's side of the DSP host: load a DSP library, start one of its
// modules, and stop it again. A plug-in that cannot be used ends the program:
// it was asked for by the settings, and playing on without it would hide that.
#include <QCoreApplication>
#include <QMetaObject>

#include "engine/BASSPlayer.h"
#include "platform/win/MessageBox.h"

namespace {

// Posted, so the application ends after the event being handled now (also
// when this runs during start-up, before the event loop).
void RequestTermination(const std::function<void()>& terminate) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app,
        [terminate] {
            if (terminate)
                terminate();
            else
                QCoreApplication::quit();
        },
        Qt::QueuedConnection);
}

}  // namespace

bool TBASSPlayer::LoadDSPPlugin(const std::string& path, uint16_t module, win::HWND parent) {
    winampDSPHeader* header = nullptr;
    int32_t count = 0;
    LoadDSPModules(path, header, FDSPModules, parent, count);
    std::string error;
    if (module < count) {
        if (SelectDSPModule(module) == 0) {
            FDSPModuleNumber = module;
            return true;
        }
        UnloadDSPModules();
        error = "Specified plug-in is not operative";
    } else {
        error = count > 0 ? "Invalid module number" : "Specified plug-in is invalid";
    }
    win::MessageBox(FAppWindow, error, "Error", win::MB_ICONERROR);
    RequestTermination(TerminateApplication);
    return false;
}

void TBASSPlayer::UnloadDSPPlugin() {
    StopDSPModule();
}
