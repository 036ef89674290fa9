#include "Library.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "Id3Blocks.h"
#include "MixGate.h"
#include "Mixer.h"
#include "MpegGapless.h"
#include "NetAddress.h"
#include "OggComments.h"
#include "StreamFormat.h"

namespace kavbass {

namespace {

thread_local int tlsError = BASS_OK;

using Clock = std::chrono::steady_clock;
// A stream address and the WMA add-on's try at the same server each get a
// share of the time a caller may wait for an open, 5 s in all.
constexpr auto kUrlOpenTime = std::chrono::milliseconds(2500);
constexpr auto kWmaUrlOpenTime = std::chrono::milliseconds(1500);
constexpr auto kDeadServerMemory = std::chrono::seconds(30);
// A stream whose type its server does not tell is looked at this far, this long.
constexpr size_t kSniffBytes = 8192;
constexpr auto kSniffTime = std::chrono::seconds(1);
// A link may lead to a playlist that links to one more, no further.
constexpr int kMaxLinkDepth = 2;
constexpr size_t kMaxPlaylistBytes = 256 * 1024;

bool isAddress(const std::string& url) {
    return url.find("://") != std::string::npos;
}

// "host[:port]" of an address, as written: the same server under another scheme.
std::string serverOf(const std::string& url) {
    const size_t s = url.find("://");
    if (s == std::string::npos) return {};
    const size_t from = s + 3;
    return url.substr(from, url.find('/', from) - from);
}

// Only regular files are opened: a FIFO or a device would block the open or
// never end, a directory is no audio. Checked before anything opens the path.
bool regularFile(const std::string& path, int& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return error = BASS_ERROR_FILEOPEN, false;
    if (!S_ISREG(st.st_mode)) return error = BASS_ERROR_FILEFORM, false;
    return true;
}

}  // namespace

void setError(int code) {
    tlsError = code;
}
int lastError() {
    return tlsError;
}

// Never destroyed: a process that ends without BASS_Free must not join or
// tear down threads that are still running.
Library& Library::instance() {
    static Library* lib = new Library;
    return *lib;
}

bool Library::init(int device, DWORD freq, DWORD flags, int& error) {
    std::lock_guard<std::mutex> lk(mtx_);
    if (initialized_) return error = BASS_ERROR_ALREADY, false;
    if (!output_.open(device, freq, error)) return false;
    initialized_ = true;
    initFlags_ = flags;
    {
        std::lock_guard<std::mutex> ev(evMtx_);
        stopSync_ = false;
        events_.clear();
    }
    syncThread_ = std::thread([this] { syncLoop(); });
    return true;
}

bool Library::free() {
    std::map<DWORD, Entry> gone;
    {
        std::lock_guard<std::mutex> lk(mtx_);
        if (!initialized_) return false;
        initialized_ = false;
        gone.swap(channels_);
    }
    for (auto& [h, e] : gone) {
        if (e.feed) e.feed->abort();
        e.channel->shutdown();
        Mixer::instance().detach(e.channel.get());
    }
    gone.clear();
    stopSyncThread();
    std::lock_guard<std::mutex> lk(mtx_);
    output_.close();
    return true;
}

void Library::stopSyncThread() {
    {
        std::lock_guard<std::mutex> ev(evMtx_);
        stopSync_ = true;
    }
    MixGate::instance().syncs.raise();
    if (!syncThread_.joinable()) return;
    if (syncThread_.get_id() == std::this_thread::get_id()) {
        syncThread_.detach();  // freed from a sync procedure: the loop ends by itself
    } else {
        syncThread_.join();
    }
}

bool Library::initialized() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return initialized_;
}

int Library::device() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return output_.device();
}

DWORD Library::outputRate() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return output_.rate();
}

DWORD Library::latencyMs() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return output_.latencyMs();
}

bool Library::add(Entry entry) {
    std::lock_guard<std::mutex> lk(mtx_);
    if (!initialized_ || !Mixer::instance().attach(entry.channel.get())) return false;
    channels_[entry.channel->handle()] = std::move(entry);
    return true;
}

std::shared_ptr<Channel> Library::channel(DWORD handle) const {
    std::lock_guard<std::mutex> lk(mtx_);
    auto it = channels_.find(handle);
    return it == channels_.end() ? nullptr : it->second.channel;
}

bool Library::entry(DWORD handle, Entry& out) const {
    std::lock_guard<std::mutex> lk(mtx_);
    auto it = channels_.find(handle);
    if (it == channels_.end()) return false;
    out = it->second;
    return true;
}

bool Library::remove(DWORD handle) {
    Entry e;
    {
        std::lock_guard<std::mutex> lk(mtx_);
        auto it = channels_.find(handle);
        if (it == channels_.end()) return false;
        e = std::move(it->second);
        channels_.erase(it);
    }
    if (e.feed) e.feed->abort();
    e.channel->shutdown();
    Mixer::instance().detach(e.channel.get());
    return true;
}

void Library::post(DWORD handle, DWORD type, std::string data, HSYNC only) {
    {
        std::lock_guard<std::mutex> ev(evMtx_);
        if (stopSync_) return;
        events_.push_back(Event{handle, type, std::move(data), only});
    }
    MixGate::instance().syncs.raise();
}

void Library::fire(const std::shared_ptr<Channel>& c, const Event& e) {
    // An end carries no data.
    const DWORD_PTR arg = e.type == BASS_SYNC_END ? 0 : reinterpret_cast<DWORD_PTR>(e.data.c_str());
    for (const Sync& s : c->syncsOf(e.type))
        if (!e.only || s.handle == e.only) s.proc(s.handle, c->handle(), arg, s.user);
}

// Once a download is whole, what only its end tells: the length of an Ogg
// stream (guessed from the nominal bit rate until then) is its last granule.
void Library::completeDownload(const Entry& en) {
    if (!en.feed || !en.feed->complete() || !en.channel->takeLengthCheck()) return;
    if (en.channel->format().ctype != BASS_CTYPE_STREAM_OGG) return;
    const int64_t granule = oggLastGranule(en.feed->tail());
    if (granule > 0) en.channel->setLengthFrames(granule);
}

void Library::learnLength(DWORD handle) {
    Entry e;
    if (entry(handle, e)) completeDownload(e);
}

void Library::noteServer(const std::string& url, bool answered) {
    std::lock_guard<std::mutex> lk(deadMtx_);
    const auto now = Clock::now();
    std::erase_if(deadServers_,
                  [now](const auto& kv) { return now - kv.second > kDeadServerMemory; });
    if (answered)
        deadServers_.erase(serverOf(url));
    else
        deadServers_[serverOf(url)] = now;
}

bool Library::deadServer(const std::string& url) {
    std::lock_guard<std::mutex> lk(deadMtx_);
    auto it = deadServers_.find(serverOf(url));
    return it != deadServers_.end() && Clock::now() - it->second <= kDeadServerMemory;
}

void Library::wakeSyncs() {
    MixGate::instance().syncs.raise();
}

// Runs every sync procedure, so none runs on the output or a worker thread.
// Sleeps until something may have made one due.
void Library::syncLoop() {
    Signal& due = MixGate::instance().syncs;
    for (uint32_t seen = due.seen();; due.wait(seen), seen = due.seen()) {
        std::deque<Event> batch;
        {
            std::lock_guard<std::mutex> ev(evMtx_);
            if (stopSync_) return;
            batch.swap(events_);
        }
        for (const Event& e : batch) {
            if (auto c = channel(e.handle)) fire(c, e);
        }
        std::vector<Entry> snapshot;
        {
            std::lock_guard<std::mutex> lk(mtx_);
            for (const auto& [h, en] : channels_) snapshot.push_back(en);
        }
        for (const Entry& en : snapshot) {
            // Every download sync fires once the download is complete, also
            // one set after it completed.
            const bool downloaded =
                en.feed ? en.feed->complete() : en.downloadAtSourceEnd && en.channel->sourceEnded();
            if (downloaded) {
                completeDownload(en);
                for (const Sync& s : en.channel->takeUnfired(BASS_SYNC_DOWNLOAD))
                    s.proc(s.handle, en.channel->handle(), 0, s.user);
            }
            for (const Sync& s : en.channel->takeEndSyncs(Mixer::instance().deliveredPasses()))
                s.proc(s.handle, en.channel->handle(), 0, s.user);
        }
    }
}

DWORD Library::finishCreate(std::unique_ptr<FfmpegSource> src, DWORD handle, bool music,
                            std::shared_ptr<TagStore> tags, Entry entry, int& error,
                            int64_t exactLength) {
    ChannelFormat f;
    f.freq = src->rate();
    f.chans = src->channels();
    f.ctype = src->ctype();
    f.music = music;
    f.lengthFrames = exactLength >= 0 ? exactLength : src->lengthFrames();
    f.seekable = !entry.feed && !entry.downloadAtSourceEnd;
    f.live = entry.feed && entry.feed->contentLength() < 0;
    if (entry.fileSize < 0) entry.fileSize = src->fileSize();
    entry.channel = std::make_shared<Channel>(handle, f, std::move(src), std::move(tags));
    if (!add(entry)) {
        if (entry.feed) entry.feed->abort();
        entry.channel->shutdown();
        error = initialized() ? BASS_ERROR_NOCHAN : BASS_ERROR_INIT;
        return 0;
    }
    completeDownload(entry);  // a short file may have arrived whole while it was probed
    return handle;
}

DWORD Library::createDecoded(const OpenRequest& req, bool music, int& error) {
    if (!initialized()) return error = BASS_ERROR_INIT, 0;
    if (!req.memory && !isAddress(req.url) && !regularFile(req.url, error)) return 0;
    auto src = FfmpegSource::open(req, error);
    if (!src) return 0;
    auto tags = std::make_shared<TagStore>();
    Entry entry;
    std::string head, tail;
    long long size = -1;
    if (req.memory) {
        const auto* p = static_cast<const char*>(req.memory);
        head.assign(p, std::min<size_t>(req.memorySize, 16u << 20));
        tail.assign(p + req.memorySize - std::min<size_t>(req.memorySize, 128),
                    std::min<size_t>(req.memorySize, 128));
        entry.fileSize = static_cast<int64_t>(req.memorySize);
    } else if (readHeadTail(req.url, head, tail, size)) {
        entry.fileSize = size;
    }
    if (src->ctype() == BASS_CTYPE_STREAM_OGG) tags->set(BASS_TAG_OGG, oggCommentList(head));
    if (!music) {
        tags->set(BASS_TAG_ID3V2, id3v2Block(head));
        tags->set(BASS_TAG_ID3, id3v1Block(tail));
    }
    const int64_t exact = src->ctype() == BASS_CTYPE_STREAM_MP3 && src->rate() > 0
                              ? gaplessLengthFrames(afterId3v2(head))
                              : -1;
    return finishCreate(std::move(src), newHandle(), music, std::move(tags), entry, error, exact);
}

DWORD Library::createWma(const OpenRequest& req, int& error) {
    if (!initialized()) return error = BASS_ERROR_INIT, 0;
    const bool address = !req.memory && isAddress(req.url);
    if (!req.memory && !address && !regularFile(req.url, error)) return 0;
    // A server that just gave no HTTP answer to the stream open gives none here either.
    if (address && deadServer(req.url)) return error = BASS_ERROR_FILEOPEN, 0;
    OpenRequest first = req;
    if (address) first.deadline = Clock::now() + kWmaUrlOpenTime;
    std::unique_ptr<FfmpegSource> src;
    if (req.url.compare(0, 6, "mms://") == 0) {
        // Tried as MMS over HTTP, as a plain HTTP download, then as MMS over TCP
        // (which an HTTP server answers only when it tires of waiting for a
        // request's end), all by one deadline.
        for (const char* scheme : {"mmsh://", "http://", "mmst://"}) {
            OpenRequest r = first;
            r.url = scheme + req.url.substr(6);
            if ((src = FfmpegSource::open(r, error)) || Clock::now() >= r.deadline) break;
        }
    } else {
        src = FfmpegSource::open(first, error);
    }
    if (!src) return 0;
    Entry entry;
    entry.downloadAtSourceEnd = address;
    return finishCreate(std::move(src), newHandle(), false, std::make_shared<TagStore>(), entry,
                        error);
}

DWORD Library::createUrl(const std::string& url, DWORD flags, int& error) {
    if (!initialized()) return error = BASS_ERROR_INIT, 0;
    // Connecting, the headers and enough audio to know the format, all by one deadline.
    const auto deadline = Clock::now() + kUrlOpenTime;
    NetAddress address;
    if (parseAddress(url, address)) return openHttp(url, flags, deadline, 0, {}, error);
    if (url.compare(0, 6, "ftp://") != 0) return error = BASS_ERROR_FILEOPEN, 0;
    OpenRequest req;
    req.deadline = deadline;
    req.url = url;
    auto src = FfmpegSource::open(req, error);
    if (!src) return 0;
    Entry entry;
    entry.downloadAtSourceEnd = true;
    return finishCreate(std::move(src), newHandle(), false, std::make_shared<TagStore>(), entry,
                        error);
}

DWORD Library::openHttp(const std::string& url, DWORD flags, Clock::time_point deadline, int depth,
                        const std::string& linkTitle, int& error) {
    FeedOpen opened;
    std::shared_ptr<HttpFeed> feed =
        HttpFeed::open(url, (flags & BASS_STREAM_META) != 0, deadline, opened);
    noteServer(url, opened.spokeHttp || opened.error != BASS_ERROR_TIMEOUT);
    if (!feed) {
        // Why a secure connection failed is told where someone may read it.
        if (!opened.reason.empty())
            std::fprintf(stderr, "bass.dll: %s: %s\n", url.c_str(), opened.reason.c_str());
        return error = opened.error, 0;
    }
    feed->setReadDeadline(deadline);
    auto tags = std::make_shared<TagStore>();
    const DWORD handle = newHandle();
    startFeed(*feed, handle, tags);
    std::string format;
    const PlaylistKind kind = classifyBody(*feed, url, deadline, format);
    if (kind != PlaylistKind::None) {
        if (depth >= kMaxLinkDepth) return error = BASS_ERROR_FILEFORM, 0;
        return openPlaylist(*feed, kind, flags, deadline, depth, error);
    }
    OpenRequest req;
    req.deadline = deadline;
    req.format = format;
    HttpFeed* raw = feed.get();
    req.feed = [raw](uint8_t* buf, int size) { return raw->read(buf, size); };
    req.feedSize = feed->contentLength();
    auto src = FfmpegSource::open(req, error);
    if (!src) return feed->abort(), 0;
    feed->setReadDeadline(Clock::time_point::max());
    const std::string head = feed->head();
    tags->set(BASS_TAG_ID3V2, id3v2Block(head));
    // Unless opening read on into a later song, the first song's comments.
    if (src->ctype() == BASS_CTYPE_STREAM_OGG && !tags->get(BASS_TAG_OGG))
        tags->set(BASS_TAG_OGG, oggCommentList(head));
    tags->set(BASS_TAG_LINK, linkTitle);
    Entry entry;
    entry.feed = feed;
    entry.fileSize = feed->contentLength();
    return finishCreate(std::move(src), handle, false, std::move(tags), entry, error);
}

// Its tags and syncs go to the channel handle will be, once it is made.
void Library::startFeed(HttpFeed& feed, DWORD handle, const std::shared_ptr<TagStore>& tags) {
    tags->set(feed.isIcy() ? BASS_TAG_ICY : BASS_TAG_HTTP, feed.headerList());
    HttpEvents ev;
    ev.metadata = [this, handle, tags](const std::string& text) {
        tags->set(BASS_TAG_META, text);
        post(handle, BASS_SYNC_META, text);
    };
    ev.oggComments = [this, handle, tags](const std::string& list) {
        tags->set(BASS_TAG_OGG, list);
        post(handle, BASS_SYNC_META, list);
    };
    HttpFeed* raw = &feed;
    ev.downloaded = [tags, raw] { tags->set(BASS_TAG_ID3, id3v1Block(raw->tail())); };
    feed.start(std::move(ev));
}

// A playlist, or audio in format (empty: to be probed). The server's
// Content-Type and the address decide when they can; else the first bytes.
PlaylistKind Library::classifyBody(const HttpFeed& feed, const std::string& url,
                                   Clock::time_point deadline, std::string& format) {
    const std::string& type = feed.contentType();
    PlaylistKind kind = playlistKind(type, url, {});
    if (kind == PlaylistKind::None) kind = playlistKind(type, feed.address(), {});
    if (kind != PlaylistKind::None) return kind;
    format = streamFormat(type, feed.waitHead(4, deadline));
    if (!format.empty()) return kind;
    const std::string head =
        feed.waitHead(kSniffBytes, std::min(deadline, Clock::now() + kSniffTime));
    kind = playlistKind(type, feed.address(), head);
    if (kind == PlaylistKind::None) format = streamFormat(type, head);
    return kind;
}

// The entries in order, each but the last given half the time left, so that
// a dead one leaves time for the next.
DWORD Library::openPlaylist(HttpFeed& feed, PlaylistKind kind, DWORD flags,
                            Clock::time_point deadline, int depth, int& error) {
    std::string body;
    uint8_t buf[4096];
    for (int n; body.size() < kMaxPlaylistBytes && (n = feed.read(buf, sizeof buf)) > 0;)
        body.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    feed.abort();
    const std::vector<PlaylistEntry> entries = parsePlaylist(kind, body);
    error = BASS_ERROR_FILEFORM;
    for (size_t i = 0; i < entries.size() && Clock::now() < deadline; ++i) {
        const std::string target = resolveReference(feed.address(), entries[i].location);
        NetAddress address;
        if (!parseAddress(target, address)) continue;
        const auto share =
            i + 1 < entries.size() ? (deadline - Clock::now()) / 2 : deadline - Clock::now();
        if (DWORD h =
                openHttp(target, flags, Clock::now() + share, depth + 1, entries[i].title, error))
            return h;
    }
    return 0;
}

}  // namespace kavbass
