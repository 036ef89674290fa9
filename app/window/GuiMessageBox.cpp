#include "GuiMessageBox.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <cstdio>
#include <set>
#include <string>

#include "platform/win/MessageBox.h"

namespace {

bool showingBoxes = true;
// Caption and text of every box shown without waiting that is still open.
std::set<std::string> openBoxes;

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

QMessageBox::StandardButtons buttonsOf(unsigned flags) {
    if ((flags & 0xF) == win::MB_OKCANCEL) return QMessageBox::Ok | QMessageBox::Cancel;
    return QMessageBox::Ok;
}

// The main window, so that boxes left open go with it.
QWidget* mainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow*>(w)) return w;
    return nullptr;
}

void showWithoutWaiting(const std::string& caption, const std::string& text, unsigned flags) {
    const std::string key = caption + '\n' + text;
    if (!openBoxes.insert(key).second) return;
    auto* box = new QMessageBox(iconOf(flags), QString::fromStdString(caption),
                                QString::fromStdString(text), buttonsOf(flags), mainWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QObject::destroyed, [key] { openBoxes.erase(key); });
    box->show();
}

int showBox(const std::string& caption, const std::string& text, unsigned flags) {
    // Also on stderr, so that a box on an unattended machine leaves a trace.
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    if (!showingBoxes) return win::IDOK;
    if (!(flags & win::MB_WAIT)) {
        showWithoutWaiting(caption, text, flags);
        return win::IDOK;
    }
    QMessageBox box(iconOf(flags), QString::fromStdString(caption), QString::fromStdString(text),
                    buttonsOf(flags), QApplication::activeWindow());
    box.exec();
    return win::IDOK;
}

}  // namespace

void InstallGuiMessageBox() {
    win::SetMessageBoxHandler(showBox);
}

void StopShowingBoxes() {
    showingBoxes = false;
}
