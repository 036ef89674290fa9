#include "tools/kavplay/PluginDialog.h"

#include <QApplication>

#include "engine/BASSPlayer.h"
#include "plugins/PluginConfig.h"

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool widgets) {
    if (widgets) return std::make_unique<QApplication>(argc, argv);
    return std::make_unique<QCoreApplication>(argc, argv);
}

int RunPluginDialog(TBASSPlayer& player) {
    if (!player.ShowPluginConfig()) return 1;
    QObject::connect(player.PluginConfigForm(), &QDialog::finished, qApp, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
