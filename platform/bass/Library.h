// The library's process-wide state: the output, the channels by handle, and
// the thread that runs sync procedures.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Channel.h"
#include "FfmpegSource.h"
#include "HttpFeed.h"
#include "Output.h"
#include "Playlists.h"

namespace kavbass {

void setError(int code);
int lastError();

// What the library keeps beside a channel.
struct Entry {
    std::shared_ptr<Channel> channel;
    std::shared_ptr<HttpFeed> feed;  // HTTP downloads and live streams
    int64_t fileSize = -1;
    bool downloadAtSourceEnd = false;  // addresses FFmpeg reads itself
};

class Library {
  public:
    static Library& instance();

    bool init(int device, DWORD freq, DWORD flags, int& error);
    bool free();
    bool initialized() const;
    int device() const;
    DWORD outputRate() const;
    DWORD latencyMs() const;
    DWORD initFlags() const { return initFlags_; }
    // The level of what the output takes; its reader is the caller of
    // BASS_GetOutputLevel (one thread).
    LevelMeter& outputMeter() { return output_.meter(); }

    DWORD newHandle() { return nextHandle_.fetch_add(1); }
    HSYNC newSyncHandle() { return nextSync_.fetch_add(1); }

    // Registers a created channel; false (channel freed) when no slot is left.
    bool add(Entry entry);
    std::shared_ptr<Channel> channel(DWORD handle) const;
    bool entry(DWORD handle, Entry& out) const;
    bool remove(DWORD handle);

    // Queues a sync event of one channel for the sync thread: for every sync
    // of the type, or only for the sync only.
    void post(DWORD handle, DWORD type, std::string data, HSYNC only = 0);
    // A sync was set: one for a download already complete fires now.
    void wakeSyncs();

    // Opens a decoded stream or music for the creation calls.
    DWORD createDecoded(const OpenRequest& req, bool music, int& error);
    DWORD createUrl(const std::string& url, DWORD flags, int& error);
    DWORD createWma(const OpenRequest& req, int& error);
    // Brings a channel's length up to date with what its download has shown.
    void learnLength(DWORD handle);

  private:
    struct Event {
        DWORD handle;
        DWORD type;
        std::string data;
        HSYNC only;
    };
    void syncLoop();
    void fire(const std::shared_ptr<Channel>& c, const Event& e);
    void completeDownload(const Entry& en);
    // Servers that took a connection and said nothing until the deadline:
    // another try at one, in another protocol, would only wait again.
    void noteServer(const std::string& url, bool answered);
    bool deadServer(const std::string& url);
    void stopSyncThread();
    // An http:// or https:// address: a stream, or a playlist whose entries
    // are tried in turn (depth: the links followed to reach url).
    DWORD openHttp(const std::string& url, DWORD flags,
                   std::chrono::steady_clock::time_point deadline, int depth,
                   const std::string& linkTitle, int& error);
    void startFeed(HttpFeed& feed, DWORD handle, const std::shared_ptr<TagStore>& tags);
    static PlaylistKind classifyBody(const HttpFeed& feed, const std::string& url,
                                     std::chrono::steady_clock::time_point deadline,
                                     std::string& format);
    DWORD openPlaylist(HttpFeed& feed, PlaylistKind kind, DWORD flags,
                       std::chrono::steady_clock::time_point deadline, int depth, int& error);
    DWORD finishCreate(std::unique_ptr<FfmpegSource> src, DWORD handle, bool music,
                       std::shared_ptr<TagStore> tags, Entry entry, int& error,
                       int64_t exactLength = -1);

    mutable std::mutex mtx_;
    std::map<DWORD, Entry> channels_;
    Output output_;
    bool initialized_ = false;
    DWORD initFlags_ = 0;
    std::atomic<DWORD> nextHandle_{0x10000};
    std::atomic<DWORD> nextSync_{1};

    std::mutex evMtx_;
    std::deque<Event> events_;
    bool stopSync_ = false;
    std::thread syncThread_;

    std::mutex deadMtx_;
    std::map<std::string, std::chrono::steady_clock::time_point> deadServers_;
};

}  // namespace kavbass
