// The program entry. Options: --help, --version, --play, --headless (the
// desk program read no arguments; these are additions, and without them
// the program starts as it always did).
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "GuiMessageBox.h"
#include "Options.h"
#include "SignalClose.h"
#include "Unit1.h"
#include "platform/win/DataDir.h"
#include "platform/win/InstanceLock.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "platform/win/RemoteMessages.h"
#include "widgets/filever.h"
#include "widgets/sobre.h"

namespace {

constexpr const char* kRaiseMessage = "KAV_Abrir";

// The name under which the program of a data folder can be reached.
std::string InstanceTitle(const std::string& dataDir) {
    std::size_t hash = std::hash<std::string>{}(dataDir);
    char text[32];
    std::snprintf(text, sizeof text, "KAV-%016zx", hash);
    return text;
}

// Asks the program running on the data folder to show its window.
void RaiseRunningProgram(const std::string& dataDir) {
    const win::HWND running = win::FindWindowByTitle(InstanceTitle(dataDir));
    if (!running) return;
    win::PostRemoteMessage(running, win::RegisterWindowMessage(kRaiseMessage), 0, 0);
    win::ForgetRemoteWindow(running);
}

// One program per data folder. False when another holds it: this start
// writes nothing, brings the other's window forward and ends.
bool TakeDataFolder(std::unique_ptr<win::InstanceLock>& lock) {
    const std::string dir = win::DataDir();
    std::string error;
    win::PrepareDataDir({}, &error);  // the folder itself, for its lock
    switch (win::InstanceLock::Acquire(dir, lock, &error)) {
        case win::InstanceLock::Result::HeldElsewhere:
            RaiseRunningProgram(dir);
            std::fprintf(stderr, "kav: o KAV já corre com a pasta de dados %s\n", dir.c_str());
            return false;
        case win::InstanceLock::Result::Unavailable:
            std::fprintf(stderr, "kav: %s\n", error.c_str());
            break;
        case win::InstanceLock::Result::Acquired:
            break;
    }
    std::fprintf(stderr, "kav: pasta de dados %s\n", dir.c_str());
    return true;
}

// The window can be brought forward by a second start on the same folder.
win::HWND PublishForSecondStarts(TForm1& form) {
    win::RegisterWindowMessage(kRaiseMessage);
    const win::HWND window = win::CreateMessageWindow([&form](const win::Message&) {
        std::fprintf(stderr, "kav: outra execução pediu a janela\n");
        form.Abrir1Click();
        return win::LRESULT(0);
    });
    win::PublishWindow(window, InstanceTitle(win::DataDir()));
    return window;
}

// A test hook: KAV_TEST_HOLD_GUI=AFTER_MS:FOR_MS holds the GUI thread once,
// as a hung program would.
void HoldGuiThreadForTests() {
    const char* hold = std::getenv("KAV_TEST_HOLD_GUI");
    unsigned after = 0, length = 0;
    if (!hold || std::sscanf(hold, "%u:%u", &after, &length) != 2) return;
    QTimer::singleShot(int(after), [length] {
        std::fprintf(stderr, "kav: a linha da interface fica retida %u ms\n", length);
        std::fflush(stderr);
        std::this_thread::sleep_for(std::chrono::milliseconds(length));
    });
}

int Version() {
    std::printf("KAV %s\n", FileVersionText().toStdString().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const station::Options options = station::ParseOptions({argv + 1, argv + argc});
    if (!options.error.empty()) {
        std::fprintf(stderr, "kav: %s\n\n%s", options.error.c_str(), station::UsageText().c_str());
        return 2;
    }
    if (options.help) {
        std::printf("%s", station::UsageText().c_str());
        return 0;
    }
    if (options.version) return Version();
    InstallCloseSignals();
    // No display needed, whatever the environment says.
    if (options.headless) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::unique_ptr<win::InstanceLock> lock;
    const bool library = win::FileExists(win::ProgramDir() + win::PathDelim + "bass.dll");
    if (library && !TakeDataFolder(lock)) return 0;

    QApplication app(argc, argv);
    // The application's title. Not as its display name: the platform would
    // add that to every window's title ("KAV — Artista - Título — KAV").
    QApplication::setApplicationName("KAV");
    InstallGuiMessageBox();
    // Nobody can answer a box without a window.
    if (options.headless) StopShowingBoxes();
    // A signal that comes while a box of the start-up is open ends the program
    // as soon as the window is built.
    static bool closeRequested = false;
    WatchCloseSignals([] {
        closeRequested = true;
        // Nobody answers a box now: a service manager waits, then kills.
        StopShowingBoxes();
        // Boxes and dialogs first, so that their event loops return.
        for (int i = 0; i < 16 && QApplication::activeModalWidget(); ++i)
            QApplication::activeModalWidget()->close();
        if (Form1)
            Form1->close();
        else
            QApplication::quit();
    });

    if (!library) {
        win::MessageBox(0, "Cannot Load bass.dll", "KAV", win::MB_OK | win::MB_WAIT);
        return 1;
    }
    TForm1 form(nullptr, options.play);
    if (closeRequested) return 0;
    Tfsobre about(&form);
    fsobre = &about;
    const win::HWND raiser = PublishForSecondStarts(form);
    if (!options.headless) form.show();
    HoldGuiThreadForTests();
    int result = app.exec();
    win::UnpublishWindow(raiser);
    win::DestroyMessageWindow(raiser);
    fsobre = nullptr;
    return result;
}
