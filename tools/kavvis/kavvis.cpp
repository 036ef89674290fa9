// kavvis: the visualiser of the player's link. Its window, titled "DozOvo",
// draws both channels' spectra and the waveform of what the player plays,
// with the stream's title, rate, bit rate, state and position.
//
//   kavvis            the window; waits quietly while no player runs
//   kavvis --dump N   no window: prints one line per data frame or record
//                     received until N frames have come, then detaches
//
// Exit status: 0, 1 when another visualiser runs, 2 on bad usage.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "plugins/VisBlock.h"
#include "tools/kavvis/VisClient.h"
#include "tools/kavvis/VisView.h"

namespace {

int Dump(QCoreApplication& app, long frames) {
    VisClient client;
    long seen = 0;
    client.OnNotice = [&](const uint8_t* block, uintptr_t what, intptr_t bytes) {
        const std::string line = vis::Describe(block, what, bytes);
        if (line.empty()) return;  // already overwritten by the next write
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        if (what == vis::kFrameWritten && ++seen == frames) {
            client.Detach();
            app.quit();
        }
    };
    if (!client.Start()) {
        std::fprintf(stderr, "kavvis: another visualiser is running\n");
        return 1;
    }
    return app.exec();
}

int Show(QApplication& app) {
    VisClient client;
    VisView view;
    view.setWindowTitle("DozOvo");
    view.resize(640, 400);
    client.OnNotice = [&](const uint8_t* block, uintptr_t what, intptr_t bytes) {
        view.Take(block, what, bytes);
    };
    client.OnAttached = [&](bool attached) { view.SetAttached(attached); };
    if (!client.Start()) {
        std::fprintf(stderr, "kavvis: another visualiser is running\n");
        return 1;
    }
    view.SetAttached(client.Attached());
    view.show();
    return app.exec();  // closing the window detaches (the client's destructor)
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--dump") {
        char* end = nullptr;
        const long frames = argc == 3 ? std::strtol(argv[2], &end, 10) : 0;
        if (frames < 1 || *end != '\0') {
            std::fprintf(stderr, "usage: kavvis [--dump FRAMES]\n");
            return 2;
        }
        QCoreApplication app(argc, argv);
        return Dump(app, frames);
    }
    QApplication app(argc, argv);  // takes the toolkit's own options (-geometry ...)
    if (app.arguments().size() != 1) {
        std::fprintf(stderr, "usage: kavvis [--dump FRAMES]\n");
        return 2;
    }
    return Show(app);
}
