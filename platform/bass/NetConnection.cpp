#include "NetConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include "FfmpegLog.h"
#include "bass_types.h"

namespace kavbass {

namespace {

using Clock = NetConnection::Clock;
constexpr auto kSlice = std::chrono::milliseconds(100);  // how often a wait looks at abort

int msUntil(Clock::time_point t) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, kSlice.count()));
}

int64_t steadyNs(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

class PlainConnection final : public NetConnection {
  public:
    ~PlainConnection() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool connect(const NetAddress& a, Clock::time_point deadline, int& error) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* res = nullptr;
        if (::getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, &res) != 0)
            return error = BASS_ERROR_FILEOPEN, false;
        bool late = false;
        for (addrinfo* ai = res; ai && fd_ < 0 && !late; ai = ai->ai_next)
            tryAddress(ai, deadline, late);
        ::freeaddrinfo(res);
        if (fd_ < 0) error = late ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEOPEN;
        return fd_ >= 0;
    }

    bool send(const std::string& data, Clock::time_point deadline) override {
        size_t sent = 0;
        while (sent < data.size()) {
            if (!waitUntil(POLLOUT, deadline)) return false;
            const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (n > 0) sent += static_cast<size_t>(n);
        }
        return true;
    }

    int receive(uint8_t* buf, int size, Clock::time_point until) override {
        for (;;) {
            if (!waitUntil(POLLIN, until)) return aborted_.load() ? kFailed : kTimedOut;
            const ssize_t n = ::recv(fd_, buf, static_cast<size_t>(size), 0);
            if (n >= 0) return static_cast<int>(n);
            if (errno != EAGAIN && errno != EINTR) return kFailed;
        }
    }

    void abort() override { aborted_.store(true); }

  private:
    void tryAddress(const addrinfo* ai, Clock::time_point deadline, bool& late) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) return;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        fd_ = fd;
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            if (waitUntil(POLLOUT, deadline)) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                rc = err == 0 ? 0 : -1;
            } else {
                late = true;
            }
        }
        if (rc != 0) {
            ::close(fd);
            fd_ = -1;
        }
    }

    // Waits in short slices, so that an abort is seen; false at the time
    // given or on an abort.
    bool waitUntil(short events, Clock::time_point until) {
        while (!aborted_.load() && Clock::now() < until) {
            pollfd p{fd_, events, 0};
            const int rc = ::poll(&p, 1, msUntil(until));
            if (rc > 0) return true;
            if (rc < 0 && errno != EINTR) return false;
        }
        return false;
    }

    int fd_ = -1;
    std::atomic<bool> aborted_{false};
};

// FFmpeg's "tls" protocol over an I/O context open for reading and writing:
// a read on it goes straight to the protocol, as sockets do.
class TlsConnection final : public NetConnection {
  public:
    ~TlsConnection() override {
        aborted_.store(true);  // closing sends no farewell that could wait
        if (io_) avio_closep(&io_);
    }

    bool connect(const NetAddress& a, Clock::time_point deadline, int& error, std::string& reason) {
        quietFfmpegLog();
        const bool v6 = a.host.find(':') != std::string::npos;
        const std::string url = "tls://" + (v6 ? "[" + a.host + "]" : a.host) + ":" + a.port;
        AVDictionary* opts = nullptr;
        addCertificateChecks(&opts);
        const AVIOInterruptCB cb{interrupted, this};
        until_.store(steadyNs(deadline));
        FfmpegErrors errors;
        const int rc = avio_open2(&io_, url.c_str(), AVIO_FLAG_READ_WRITE, &cb, &opts);
        av_dict_free(&opts);
        if (rc >= 0) return true;
        io_ = nullptr;
        const bool late = Clock::now() >= deadline;
        error = late ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEOPEN;
        reason = late ? "no answer in time" : errors.text();
        if (reason.empty()) reason = errorText(rc);
        return false;
    }

    bool send(const std::string& data, Clock::time_point deadline) override {
        until_.store(steadyNs(deadline));
        avio_write(io_, reinterpret_cast<const unsigned char*>(data.data()),
                   static_cast<int>(data.size()));
        avio_flush(io_);
        return io_->error == 0 && !interrupted(this);
    }

    int receive(uint8_t* buf, int size, Clock::time_point until) override {
        until_.store(steadyNs(until));
        const int n = avio_read_partial(io_, buf, size);
        if (n > 0) return n;
        if (aborted_.load()) return kFailed;
        if (Clock::now() >= until) return kTimedOut;
        return n == 0 || n == AVERROR_EOF ? 0 : kFailed;
    }

    void abort() override { aborted_.store(true); }

  private:
    // FFmpeg's waits ask this between their steps.
    static int interrupted(void* opaque) {
        auto* self = static_cast<TlsConnection*>(opaque);
        return self->aborted_.load() || steadyNs(Clock::now()) >= self->until_.load();
    }

    static std::string errorText(int rc) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(rc, text, sizeof text);
        return text;
    }

    AVIOContext* io_ = nullptr;
    std::atomic<bool> aborted_{false};
    std::atomic<int64_t> until_{INT64_MAX};
};

}  // namespace

void addCertificateChecks(AVDictionary** options) {
    av_dict_set(options, "tls_verify", "1", 0);
    const char* caFile = std::getenv("SSL_CERT_FILE");
    if (caFile && *caFile) av_dict_set(options, "ca_file", caFile, 0);
}

std::unique_ptr<NetConnection> NetConnection::open(const NetAddress& address,
                                                   Clock::time_point deadline, int& error,
                                                   std::string& reason) {
    if (address.tls) {
        auto c = std::make_unique<TlsConnection>();
        if (!c->connect(address, deadline, error, reason)) return nullptr;
        return c;
    }
    auto c = std::make_unique<PlainConnection>();
    if (!c->connect(address, deadline, error)) return nullptr;
    return c;
}

}  // namespace kavbass
