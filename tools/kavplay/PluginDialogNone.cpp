#include <cstdio>

#include "tools/kavplay/PluginDialog.h"

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool) {
    return std::make_unique<QCoreApplication>(argc, argv);
}

int RunPluginDialog(TBASSPlayer&) {
    std::fprintf(stderr, "kavplay: this build has no plug-in dialog\n");
    return 1;
}
