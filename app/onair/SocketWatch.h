// How much of what an output sent is still on this machine: libshout queues
// what the socket does not take, but the system's own buffers take a great
// deal (megabytes, once they have grown), so a connection whose far end
// stopped taking anything would otherwise look healthy for minutes. The
// socket libshout made is found among the process's own (the one connected
// to the server that was not there before: looked up in the system's
// connection tables, so that no other thread's descriptor is touched), and
// the system is asked how many bytes it still holds for it.
//
// Only one output connects to a server at a time (Claim), so that the new
// socket is the one it made. Threads: each watch is used by one thread (an
// output's); Claim and Release from any.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <set>
#include <string>

namespace onair {

class SocketWatch {
  public:
    // Whether this output may connect to host:port now (no other is
    // connecting there); Release once connected or failed.
    static bool Claim(const std::string& server);
    static void Release(const std::string& server);

    // Before the connection is made: the sockets already connected there.
    void Before(const std::string& host, int port);
    // Once it is made: finds the one that is new; false when none or several.
    bool Find();
    void Forget() { fd_ = -1; }
    // Caps what the system may hold for the socket (it grows its buffer to
    // megabytes otherwise), so that a far end that stopped taking anything
    // shows within seconds as unsent bytes here. False when not known.
    bool LimitBuffer(std::size_t bytes) const;
    // Bytes written to the socket that the far end has not taken; 0 when the
    // socket is not known.
    std::size_t Held() const;

  private:
    bool known() const;
    std::set<ino_t> before_;
    std::string host_;
    int port_ = 0;
    int fd_ = -1;
    ino_t inode_ = 0;
};

}  // namespace onair
