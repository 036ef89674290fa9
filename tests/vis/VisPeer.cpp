// The visualiser's side of the link, for the tests: publishes a window
// titled "DozOvo", prints one line per notification it receives (as the
// visualiser's dump does) and sends what it is told on standard input:
//
//   attach L   '<' with lParam L (the block is opened afresh first)
//   detach     'F'
//   ask N      'Z' with lParam N
//   raw HEX    the bytes as one packet straight to the player's endpoint
//
// After each command it prints "sent" or "no player"; "ready" once published.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "platform/win/RemoteMessages.h"
#include "platform/win/SharedMemory.h"
#include "plugins/VisBlock.h"

namespace {

const char* const kPlayer = "zavSharedMemory1";

struct Peer {
    unsigned link = win::RegisterWindowMessage("WM_SendingData");
    std::unique_ptr<win::SharedMemory> block;
    const uint8_t* view = nullptr;

    void Reopen() {
        if (view) win::SharedMemory::Unmap(const_cast<uint8_t*>(view), vis::kBlockSize);
        view = nullptr;
        block = win::SharedMemory::Open(kPlayer, vis::kBlockSize, true);
        if (block) view = static_cast<const uint8_t*>(block->Map(true));
    }

    win::LRESULT Receive(const win::Message& m) {
        if (m.msg != link || !view) return 0;
        // A block already overwritten by the next write reads as its notice only.
        const std::string line = vis::Describe(view, m.wParam, m.lParam);
        if (line.empty())
            std::printf("notice %lu %ld\n", static_cast<unsigned long>(m.wParam),
                        static_cast<long>(m.lParam));
        else
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        return 0;
    }

    bool Post(win::WPARAM w, win::LPARAM l) {
        const win::HWND player = win::FindWindowByTitle(kPlayer);
        const bool sent = player && win::PostRemoteMessage(player, link, w, l);
        win::ForgetRemoteWindow(player);
        return sent;
    }

    bool Raw(const std::string& hex) {
        std::string bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        const std::string path = win::WindowEndpoint(kPlayer);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        const bool sent =
            fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(bytes.size());
        if (fd >= 0) ::close(fd);
        return sent;
    }

    bool Command(const std::string& line) {
        std::istringstream in(line);
        std::string verb, arg;
        in >> verb >> arg;
        if (verb == "attach") {
            Reopen();
            return Post(vis::kAttach, std::stoll(arg));
        }
        if (verb == "detach") return Post(vis::kDetach, 0);
        if (verb == "ask") return Post(vis::kAskRecord, std::stoll(arg));
        if (verb == "raw") {
            Reopen();
            return Raw(arg);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Peer peer;
    const win::HWND window =
        win::CreateMessageWindow([&](const win::Message& m) { return peer.Receive(m); });
    if (!win::PublishWindow(window, "DozOvo")) {
        std::printf("cannot publish\n");
        return 1;
    }
    QSocketNotifier input(0, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char chunk[512];
        const ssize_t n = ::read(0, chunk, sizeof chunk);
        if (n <= 0) return app.quit();
        pending.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line == "quit") return app.quit();
            std::printf("%s\n", peer.Command(line) ? "sent" : "no player");
            std::fflush(stdout);
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    const int status = app.exec();
    win::UnpublishWindow(window);
    return status;
}
