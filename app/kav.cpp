// The program entry: no arguments are read.
#include <QApplication>

#include "GuiMessageBox.h"
#include "SignalClose.h"
#include "Unit1.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "widgets/sobre.h"

int main(int argc, char** argv) {
    InstallCloseSignals();
    QApplication app(argc, argv);
    QApplication::setApplicationName("KAV");
    QApplication::setApplicationDisplayName("KAV");
    InstallGuiMessageBox();
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

    if (!win::FileExists(win::ProgramDir() + win::PathDelim + "bass.dll")) {
        win::MessageBox(0, "Cannot Load bass.dll", "KAV", win::MB_OK | win::MB_WAIT);
        return 1;
    }
    TForm1 form;
    if (closeRequested) return 0;
    Tfsobre about(&form);
    fsobre = &about;
    form.show();
    int result = app.exec();
    fsobre = nullptr;
    return result;
}
