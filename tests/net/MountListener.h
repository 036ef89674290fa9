// A listener of an Icecast mount, as players are: it asks for ICY metadata,
// keeps the audio (without the metadata) in a file, and notes each title
// (as UTF-8) with the moment it came. On an Ogg mount the titles come from the comment
// headers of each logical stream (Vorbis or Opus). A dropped connection is
// made again every half second, the audio appended to the same file.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

// The titles an Ogg stream's comment headers carry (Vorbis or Opus), one for
// each logical stream, as its bytes come.
class OggTitles {
  public:
    // The titles whose headers ended in these bytes.
    std::vector<std::string> feed(const char* data, std::size_t size);
    void restart();

  private:
    void packet(const std::string& p, std::vector<std::string>& found);
    std::string pending_, packet_;  // what is left of a page, and a packet across pages
};

class MountListener {
  public:
    struct Title {
        std::string text;  // "Artista - Título" (Ogg: ARTIST and TITLE joined so)
        std::chrono::steady_clock::time_point at;
    };

    // How the server sends a mount's ICY titles: Icecast's default is
    // ISO-8859-1, with numeric character references for what it cannot
    // hold; a mount configured so sends UTF-8.
    enum class IcyCharset { Latin1, Utf8 };

    MountListener(int port, const std::string& mount, const std::string& audioFile,
                  IcyCharset icy = IcyCharset::Latin1);
    ~MountListener();
    void stop();

    std::vector<Title> titles() const;
    // Bytes of audio kept so far, and when the last came.
    std::size_t audioBytes() const;
    std::chrono::steady_clock::time_point lastAudio() const;
    // Connections that were answered with 200 (reconnections counted).
    int connections() const { return connections_.load(); }

  private:
    void run();
    bool listenOnce();
    void audio(const char* data, std::size_t size);
    void icyMetadata(const std::string& block);
    void note(const std::string& title);

    const int port_;
    const std::string mount_, file_;
    const IcyCharset icy_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mtx_;
    std::vector<Title> titles_;
    std::size_t bytes_ = 0;
    std::chrono::steady_clock::time_point last_{};
    OggTitles ogg_;
    std::thread thread_;
};

}  // namespace nettest
