#include "Icecast.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "RadioServer.h"

namespace nettest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr const char* kPassword = "kavtest";

std::string config(const std::string& dir, int port) {
    std::ostringstream x;
    x << "<icecast>\n"
      << "  <hostname>127.0.0.1</hostname>\n"
      << "  <limits><clients>32</clients><sources>4</sources><source-timeout>10</source-timeout>"
      << "<burst-on-connect>1</burst-on-connect><burst-size>65535</burst-size></limits>\n"
      << "  <authentication><source-password>" << kPassword << "</source-password>"
      << "<admin-user>admin</admin-user><admin-password>" << kPassword
      << "</admin-password></authentication>\n"
      << "  <listen-socket><port>" << port
      << "</port><bind-address>127.0.0.1</bind-address></listen-socket>\n"
      << "  <paths><basedir>" << dir << "</basedir><logdir>" << dir << "/log</logdir>"
      << "<webroot>/usr/share/icecast2/web</webroot>"
      << "<adminroot>/usr/share/icecast2/admin</adminroot></paths>\n"
      << "  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
      << "<loglevel>3</loglevel></logging>\n"
      << "  <security><chroot>0</chroot>";
    // The server will not run as root: it gives up root for nobody once it listens.
    if (::geteuid() == 0)
        x << "<changeowner><user>nobody</user><group>nogroup</group></changeowner>";
    x << "</security>\n</icecast>\n";
    return x.str();
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    for (const auto end = Clock::now() + limit; Clock::now() < end;
         std::this_thread::sleep_for(50ms))
        if (pred()) return true;
    return pred();
}

}  // namespace

Icecast::Icecast() {
    std::string pattern = (fs::temp_directory_path() / "kav-icecast-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    // The server's user writes its logs here.
    fs::create_directories(dir_ + "/log");
    ::chmod(dir_.c_str(), 0755);
    ::chmod((dir_ + "/log").c_str(), 0777);
    port_ = closedPort();
    std::ofstream(dir_ + "/icecast.xml") << config(dir_, port_);
    server_ =
        std::make_unique<Child>(std::vector<std::string>{"icecast2", "-c", dir_ + "/icecast.xml"},
                                std::vector<std::string>{}, dir_ + "/server.out");
    ok_ = waitFor([this] { return httpGet(port_, "/status-json.xsl").code == 200; }, 10s);
}

Icecast::~Icecast() {
    for (auto& [mount, source] : sources_) source->stop(SIGKILL, 2s);
    stop();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string Icecast::url(const std::string& mount) const {
    return "http://127.0.0.1:" + std::to_string(port_) + mount;
}

bool Icecast::startSource(const std::string& mount, bool ogg, int freq, const std::string& title) {
    std::vector<std::string> argv = {
        "ffmpeg", "-nostdin", "-loglevel",
        "error",  "-re",      "-f",
        "lavfi",  "-i",       "sine=frequency=" + std::to_string(freq) + ":sample_rate=44100",
        "-ac",    "2"};
    const std::string rate = ogg ? "96" : "128";
    if (ogg)
        // Managed at 96 kbit/s: a pure tone would otherwise take a tenth of
        // that, and the server's burst would hold many seconds of it.
        argv.insert(argv.end(), {"-c:a", "libvorbis", "-b:a", "96k", "-minrate", "96k", "-maxrate",
                                 "96k", "-metadata", "title=" + title, "-content_type",
                                 "application/ogg", "-f", "ogg"});
    else
        argv.insert(argv.end(), {"-c:a", "libmp3lame", "-b:a", "128k", "-content_type",
                                 "audio/mpeg", "-f", "mp3"});
    // A source tells its bit rate in an "ice-audio-info" header, which
    // ffmpeg's icecast protocol has no option for: its genre header carries
    // the line.
    argv.insert(argv.end(), {"-ice_genre", "test\r\nice-audio-info: bitrate=" + rate,
                             "icecast://source:" + std::string(kPassword) +
                                 "@127.0.0.1:" + std::to_string(port_) + mount});
    sources_[mount] =
        std::make_unique<Child>(argv, std::vector<std::string>{},
                                dir_ + "/source" + fs::path(mount).stem().string() + ".out");
    return waitFor([&] { return serves(mount); }, 10s);
}

void Icecast::killSource(const std::string& mount) {
    auto it = sources_.find(mount);
    if (it != sources_.end()) it->second->stop(SIGKILL, 2s);
}

bool Icecast::setTitle(const std::string& mount, const std::string& title) {
    const std::string path =
        "/admin/metadata?mount=" + urlEncode(mount) + "&mode=updinfo&song=" + urlEncode(title);
    const HttpAnswer a = httpGet(port_, path, std::string("admin:") + kPassword);
    return a.code == 200 && a.body.find("<return>1</return>") != std::string::npos;
}

bool Icecast::serves(const std::string& mount) const {
    return httpGet(port_, mount, {}, 1, 2s).code == 200;
}

void Icecast::stop() {
    if (server_) server_->stop(SIGTERM, 5s);
}

std::string Icecast::logs() const {
    std::string all = readText(dir_ + "/server.out") + readText(dir_ + "/log/error.log");
    for (const auto& entry : fs::directory_iterator(dir_))
        if (entry.path().filename().string().rfind("source", 0) == 0)
            all += readText(entry.path().string());
    return all;
}

}  // namespace nettest
