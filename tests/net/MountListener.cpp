#include "MountListener.h"
#include "Processes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace nettest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

uint32_t le32(const std::string& s, size_t at) {
    if (at + 4 > s.size()) return UINT32_MAX;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + size_t(i)]);
    return v;
}

// ARTIST and TITLE of a Vorbis comment list beginning at `at`.
std::string commentTitle(const std::string& p, size_t at) {
    const uint32_t vendor = le32(p, at);
    if (vendor == UINT32_MAX) return {};
    at += 4 + vendor;
    const uint32_t count = le32(p, at);
    at += 4;
    std::string artist, title;
    for (uint32_t i = 0; i < count && at < p.size(); ++i) {
        const uint32_t len = le32(p, at);
        if (len == UINT32_MAX || at + 4 + len > p.size()) break;
        const std::string c = p.substr(at + 4, len);
        at += 4 + len;
        const size_t eq = c.find('=');
        const std::string key = lower(c.substr(0, eq));
        if (key == "artist") artist = c.substr(eq + 1);
        if (key == "title") title = c.substr(eq + 1);
    }
    if (artist.empty()) return title;
    return title.empty() ? artist : artist + " - " + title;
}

}  // namespace

MountListener::MountListener(int port, const std::string& mount, const std::string& audioFile,
                             IcyCharset icy)
    : port_(port), mount_(mount), file_(audioFile), icy_(icy) {
    std::ofstream(file_, std::ios::binary | std::ios::trunc);
    thread_ = std::thread([this] { run(); });
}

MountListener::~MountListener() {
    stop();
}

void MountListener::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::vector<MountListener::Title> MountListener::titles() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return titles_;
}

std::size_t MountListener::audioBytes() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return bytes_;
}

Clock::time_point MountListener::lastAudio() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return last_;
}

void MountListener::run() {
    while (!stop_) {
        if (!listenOnce()) std::this_thread::sleep_for(500ms);
    }
}

// One connection, until it ends or the listener stops. False when the
// mount did not answer with its stream.
bool MountListener::listenOnce() {
    const int fd = connectTo(port_);
    if (fd < 0) return false;
    const std::string req = "GET " + mount_ +
                            " HTTP/1.0\r\nHost: 127.0.0.1\r\nIcy-MetaData: 1\r\n"
                            "User-Agent: kav-test-listener\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string head;
    long metaint = 0, untilMeta = 0;
    int metaLeft = -1;  // bytes of a metadata block still to come; -1: none
    std::string meta;
    bool answered = false;
    ogg_.restart();
    char buf[8192];
    while (!stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) < 0) break;
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        size_t at = 0;
        if (!answered) {
            head.append(buf, size_t(n));
            const size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            if (head.find(" 200") == std::string::npos) break;
            answered = true;
            ++connections_;
            const std::string h = lower(head.substr(0, end));
            const size_t mi = h.find("icy-metaint:");
            if (mi != std::string::npos) metaint = std::atol(h.c_str() + mi + 12);
            untilMeta = metaint;
            const std::string rest = head.substr(end + 4);
            std::memcpy(buf, rest.data(), rest.size());
            at = 0;
            n = ssize_t(rest.size());
        }
        while (at < size_t(n)) {
            if (metaint == 0) {
                audio(buf + at, size_t(n) - at);
                for (const std::string& t : ogg_.feed(buf + at, size_t(n) - at)) note(t);
                break;
            }
            if (metaLeft < 0 && untilMeta == 0) {
                metaLeft = static_cast<unsigned char>(buf[at++]) * 16;
                meta.clear();
            } else if (metaLeft >= 0) {
                const size_t take = std::min(size_t(metaLeft), size_t(n) - at);
                meta.append(buf + at, take);
                at += take;
                metaLeft -= int(take);
                if (metaLeft == 0) {
                    icyMetadata(meta);
                    metaLeft = -1;
                    untilMeta = metaint;
                }
            } else {
                const size_t take = std::min(size_t(untilMeta), size_t(n) - at);
                audio(buf + at, take);
                at += take;
                untilMeta -= long(take);
            }
        }
    }
    ::close(fd);
    return answered;
}

void MountListener::audio(const char* data, std::size_t size) {
    std::ofstream(file_, std::ios::binary | std::ios::app).write(data, std::streamsize(size));
    std::lock_guard<std::mutex> lk(mtx_);
    bytes_ += size;
    last_ = Clock::now();
}

namespace {

void appendUtf8(std::string& out, unsigned long c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// ISO-8859-1 with numeric character references, as UTF-8.
std::string fromLatin1(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        const size_t end = raw.find(';', i);
        if (raw.compare(i, 2, "&#") == 0 && end != std::string::npos && end - i <= 9) {
            appendUtf8(out, std::strtoul(raw.c_str() + i + 2, nullptr, 10));
            i = end;
        } else {
            appendUtf8(out, static_cast<unsigned char>(raw[i]));
        }
    }
    return out;
}

}  // namespace

// "StreamTitle='...';" (the title may hold quotes of its own).
void MountListener::icyMetadata(const std::string& block) {
    const std::string key = "StreamTitle='";
    const size_t from = block.find(key);
    if (from == std::string::npos) return;
    const size_t to = block.find("';", from + key.size());
    const std::string raw = block.substr(
        from + key.size(), to == std::string::npos ? std::string::npos : to - from - key.size());
    note(icy_ == IcyCharset::Utf8 ? raw : fromLatin1(raw));
}

// Ogg pages: each segment's bytes join the packet under way; a segment
// shorter than 255 bytes ends it.
std::vector<std::string> OggTitles::feed(const char* data, std::size_t size) {
    std::vector<std::string> found;
    pending_.append(data, size);
    for (;;) {
        const size_t start = pending_.find("OggS");
        if (start == std::string::npos || pending_.size() < start + 27) break;
        const size_t segments = static_cast<unsigned char>(pending_[start + 26]);
        if (pending_.size() < start + 27 + segments) break;
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i)
            body += static_cast<unsigned char>(pending_[start + 27 + i]);
        const size_t bodyAt = start + 27 + segments;
        if (pending_.size() < bodyAt + body) break;
        if (pending_[start + 5] & 0x02) packet_.clear();  // a new logical stream
        size_t at = bodyAt;
        for (size_t i = 0; i < segments; ++i) {
            const size_t len = static_cast<unsigned char>(pending_[start + 27 + i]);
            packet_.append(pending_, at, len);
            at += len;
            if (len < 255) {
                packet(packet_, found);
                packet_.clear();
            }
        }
        pending_.erase(0, bodyAt + body);
    }
    return found;
}

void OggTitles::restart() {
    pending_.clear();
    packet_.clear();
}

void OggTitles::packet(const std::string& p, std::vector<std::string>& found) {
    if (p.rfind("OpusTags", 0) == 0) found.push_back(commentTitle(p, 8));
    if (p.rfind("\x03vorbis", 0) == 0) found.push_back(commentTitle(p, 7));
}

void MountListener::note(const std::string& title) {
    std::lock_guard<std::mutex> lk(mtx_);
    titles_.push_back({title, Clock::now()});
}

}  // namespace nettest
