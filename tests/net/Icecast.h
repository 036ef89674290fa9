// Debian's icecast2 on 127.0.0.1 with a configuration of the test's own, fed
// by ffmpeg -re as the source client (a tone encoded live), its titles
// changed through the server's admin interface. icecast2 refuses to run as
// root: when the test runs as root, the configuration drops to nobody.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "Processes.h"

namespace nettest {

class Icecast {
  public:
    // Writes the configuration into a folder of its own (open to the
    // server's user, removed with it) and starts the server; ok() tells
    // whether it listens.
    Icecast();
    ~Icecast();
    bool ok() const { return ok_; }
    int port() const { return port_; }
    std::string url(const std::string& mount) const;

    // ffmpeg -re as the source of mount: a sine tone of freq Hz, MP3 at
    // 128 kbit/s or Ogg Vorbis at 96 kbit/s (titled title in its comments).
    // True once the server serves the mount.
    bool startSource(const std::string& mount, bool ogg, int freq, const std::string& title);
    void killSource(const std::string& mount);
    // Through /admin/metadata (the "song": a title alone is not taken for an
    // Ogg mount without an artist).
    bool setTitle(const std::string& mount, const std::string& title);
    // Whether the server has a source on mount.
    bool serves(const std::string& mount) const;
    void stop();
    // What the server and the sources wrote, for a failure's message.
    std::string logs() const;

  private:
    std::string dir_;
    int port_ = 0;
    bool ok_ = false;
    std::unique_ptr<Child> server_;
    std::map<std::string, std::unique_ptr<Child>> sources_;
};

}  // namespace nettest
