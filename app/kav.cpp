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
    WatchCloseSignals([] {
        while (QWidget* box = QApplication::activeModalWidget()) box->close();
        if (Form1)
            Form1->close();
        else
            QApplication::quit();
    });

    if (!win::FileExists(win::ProgramDir() + win::PathDelim + "bass.dll")) {
        win::MessageBox(0, "Cannot Load bass.dll", "KAV", win::MB_OK);
        return 1;
    }
    TForm1 form;
    Tfsobre fsobre(&form);
    form.show();
    return app.exec();
}
