#include "GuiMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "platform/win/MessageBox.h"

namespace {

QMessageBox::Icon iconOf(unsigned flags) {
    switch (flags & 0xF0) {
        case win::MB_ICONERROR:
            return QMessageBox::Critical;
        case win::MB_ICONQUESTION:
            return QMessageBox::Question;
        case win::MB_ICONWARNING:
            return QMessageBox::Warning;
        case win::MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int showBox(const std::string& caption, const std::string& text, unsigned flags) {
    // Also on stderr, so that a box on an unattended machine leaves a trace.
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    QMessageBox box(iconOf(flags), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    return win::IDOK;
}

}  // namespace

void InstallGuiMessageBox() {
    win::SetMessageBoxHandler(showBox);
}
