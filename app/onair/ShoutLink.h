// The connection of a stream output to its Icecast server, through libshout
// as a source client: the stream itself (ShoutLink, never blocking: a
// connection that hangs is seen as one and dropped), the MP3 title updates
// (TitleSender, on a thread of their own, since libshout waits for the
// server's answer to each), and the server's answer to a source it refused
// (WhyRefused).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

typedef struct shout shout_t;

namespace onair {

struct Target {
    std::string host;
    int port = 8000;
    std::string mount = "/kav", user = "source", password;
    bool ogg = false;  // Ogg pages, else MP3 frames
    std::string name, genre, description, url;
    bool listed = false;  // in the server's public directory
    int kbps = 128, rate = 44100;
    // "host:port/mount", for messages.
    std::string Where() const;
};

// One thread (the output's) uses a link.
class ShoutLink {
  public:
    enum class Step { Pending, Connected, Failed };

    explicit ShoutLink(const Target& target);
    ~ShoutLink();
    ShoutLink(const ShoutLink&) = delete;
    ShoutLink& operator=(const ShoutLink&) = delete;

    // Begins to connect; Poll() then tells how it goes.
    Step Open();
    Step Poll();
    // Queues data and sends what the socket takes now. False: the
    // connection is lost (Close() it).
    bool Send(const std::string& data);
    // Bytes queued that the socket has not taken yet.
    std::size_t Queued();
    // Ends the connection at once: the server frees the mount.
    void Close();
    // Why the last step failed: libshout's error and its text.
    bool Refused() const;  // the server answered, but not with a yes
    std::string Error() const;

  private:
    Step fail(int code);
    shout_t* shout_;
    int code_ = 0;
    bool open_ = false;
};

// Sends the titles of an MP3 stream with the server's metadata update, in
// UTF-8, saying so. The latest title waiting is sent once the one before is
// done; one in flight may wait for a server that does not answer, never the
// output.
class TitleSender {
  public:
    explicit TitleSender(const Target& target);
    // Waits a moment for a title in flight; one that does not finish then
    // finishes on its own.
    ~TitleSender();
    TitleSender(const TitleSender&) = delete;
    TitleSender& operator=(const TitleSender&) = delete;

    // Any thread. "Artista - Título".
    void Send(const std::string& song);

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

// libshout writes to its sockets without asking the system not to raise
// SIGPIPE when the server has gone: each thread that uses it blocks the
// signal for itself first (the write then fails with an error instead).
void IgnoreBrokenPipes();

// Asks the server, as the source would, why it refused one (libshout only
// tells that it did): "HTTP 401 ..." and the like, or empty when it now
// accepts or does not answer within a few seconds. code is the HTTP status,
// 0 when none came.
std::string WhyRefused(const Target& target, int& code);

}  // namespace onair
