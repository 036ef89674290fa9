#include "ShoutLink.h"

#include <pthread.h>
#include <shout/shout.h>
#include <signal.h>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/base64.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace onair {

namespace {

constexpr const char* kAgent = "KAV";
// How long a stopped output waits for a title update in flight.
constexpr auto kTitleGrace = std::chrono::seconds(1);
// How long the question why a source was refused may take.
constexpr const char* kAskTimeoutUs = "4000000";

void initOnce() {
    static std::once_flag once;
    std::call_once(once, [] { shout_init(); });
}

// A libshout handle set up for the target: the stream's format and
// description, never blocking.
shout_t* newShout(const Target& t, bool nonblocking) {
    initOnce();
    shout_t* s = shout_new();
    if (!s) return nullptr;
    shout_set_host(s, t.host.c_str());
    shout_set_port(s, static_cast<unsigned short>(t.port));
    shout_set_mount(s, t.mount.c_str());
    shout_set_user(s, t.user.c_str());
    shout_set_password(s, t.password.c_str());
    shout_set_agent(s, kAgent);
    shout_set_protocol(s, SHOUT_PROTOCOL_HTTP);
    shout_set_content_format(s, t.ogg ? SHOUT_FORMAT_OGG : SHOUT_FORMAT_MP3, SHOUT_USAGE_AUDIO,
                             nullptr);
    for (const auto& [key, value] :
         {std::pair{SHOUT_META_NAME, &t.name}, std::pair{SHOUT_META_GENRE, &t.genre},
          std::pair{SHOUT_META_DESCRIPTION, &t.description}, std::pair{SHOUT_META_URL, &t.url}})
        if (!value->empty()) shout_set_meta(s, key, value->c_str());
    shout_set_public(s, t.listed ? 1 : 0);
    shout_set_audio_info(s, SHOUT_AI_BITRATE, std::to_string(t.kbps).c_str());
    shout_set_audio_info(s, SHOUT_AI_SAMPLERATE, std::to_string(t.rate).c_str());
    shout_set_audio_info(s, SHOUT_AI_CHANNELS, "2");
    if (nonblocking) shout_set_nonblocking(s, SHOUT_BLOCKING_NONE);
    return s;
}

bool pending(int code) {
    return code == SHOUTERR_BUSY || code == SHOUTERR_RETRY;
}

}  // namespace

void IgnoreBrokenPipes() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

std::string Target::Where() const {
    return host + ":" + std::to_string(port) + mount;
}

// --- The stream ----------------------------------------------------------

ShoutLink::ShoutLink(const Target& target) : shout_(newShout(target, true)) {}

ShoutLink::~ShoutLink() {
    Close();
    if (shout_) shout_free(shout_);
}

ShoutLink::Step ShoutLink::fail(int code) {
    code_ = code;
    Close();
    return Step::Failed;
}

ShoutLink::Step ShoutLink::Open() {
    if (!shout_) return fail(SHOUTERR_MALLOC);
    Close();
    open_ = true;
    const int code = shout_open(shout_);
    if (code == SHOUTERR_SUCCESS || code == SHOUTERR_CONNECTED) return Step::Connected;
    return pending(code) ? Step::Pending : fail(code);
}

ShoutLink::Step ShoutLink::Poll() {
    if (!open_) return Step::Failed;
    const int code = shout_get_connected(shout_);
    if (code == SHOUTERR_CONNECTED) return Step::Connected;
    return pending(code) ? Step::Pending : fail(code);
}

bool ShoutLink::Send(const std::string& data) {
    if (!open_) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const int code = shout_send(shout_, bytes, data.size());
    if (code == SHOUTERR_SUCCESS || pending(code)) return true;
    fail(code);
    return false;
}

std::size_t ShoutLink::Queued() {
    const ssize_t n = open_ ? shout_queuelen(shout_) : 0;
    return n > 0 ? std::size_t(n) : 0;
}

void ShoutLink::Close() {
    if (!open_) return;
    open_ = false;
    shout_close(shout_);
}

bool ShoutLink::Refused() const {
    return code_ == SHOUTERR_NOLOGIN;
}

std::string ShoutLink::Error() const {
    switch (code_) {
        case SHOUTERR_NOCONNECT:
            return "sem ligação ao servidor";
        case SHOUTERR_NOLOGIN:
            return "o servidor recusou a fonte";
        case SHOUTERR_SOCKET:
            return "a ligação caiu";
        case SHOUTERR_UNSUPPORTED:
            return "formato não suportado";
        default:
            return "erro " + std::to_string(code_);
    }
}

// --- Titles --------------------------------------------------------------

struct TitleSender::Shared {
    std::mutex mtx;
    std::condition_variable cv;
    std::optional<std::string> waiting;  // the latest title not yet sent
    bool stop = false;
    bool done = false;  // the thread has ended
};

TitleSender::TitleSender(const Target& target) : shared_(std::make_shared<Shared>()) {
    // The thread keeps what it uses: it may outlive the sender.
    std::thread([shared = shared_, shout = newShout(target, false)] {
        IgnoreBrokenPipes();
        std::unique_lock<std::mutex> lk(shared->mtx);
        for (;;) {
            shared->cv.wait(lk, [&] { return shared->stop || shared->waiting; });
            if (shared->stop) break;
            const std::string song = std::move(*shared->waiting);
            shared->waiting.reset();
            lk.unlock();
            if (shout_metadata_t* meta = shout ? shout_metadata_new() : nullptr) {
                // A title that does not reach the server is not tried again:
                // the next one is, and each connection sends the title anew.
                if (shout_metadata_add(meta, "song", song.c_str()) == SHOUTERR_SUCCESS) {
                    [[maybe_unused]] const int answer = shout_set_metadata_utf8(shout, meta);
                }
                shout_metadata_free(meta);
            }
            lk.lock();
        }
        if (shout) shout_free(shout);
        shared->done = true;
        shared->cv.notify_all();
    }).detach();
}

TitleSender::~TitleSender() {
    std::unique_lock<std::mutex> lk(shared_->mtx);
    shared_->stop = true;
    shared_->cv.notify_all();
    shared_->cv.wait_for(lk, kTitleGrace, [this] { return shared_->done; });
}

void TitleSender::Send(const std::string& song) {
    {
        std::lock_guard<std::mutex> lk(shared_->mtx);
        shared_->waiting = song;
    }
    shared_->cv.notify_all();
}

// --- Why a source was refused ------------------------------------------

namespace {

std::string basicCredentials(const Target& t) {
    const std::string plain = t.user + ":" + t.password;
    std::vector<char> out(AV_BASE64_SIZE(plain.size()));
    av_base64_encode(out.data(), int(out.size()), reinterpret_cast<const uint8_t*>(plain.data()),
                     int(plain.size()));
    return out.data();
}

int statusOf(int err) {
    switch (err) {
        case AVERROR_HTTP_BAD_REQUEST:
            return 400;
        case AVERROR_HTTP_UNAUTHORIZED:
            return 401;
        case AVERROR_HTTP_FORBIDDEN:
            return 403;
        case AVERROR_HTTP_NOT_FOUND:
            return 404;
        case AVERROR_HTTP_OTHER_4XX:
            return 499;
        case AVERROR_HTTP_SERVER_ERROR:
            return 500;
        default:
            return 0;
    }
}

std::string describeStatus(int code) {
    switch (code) {
        case 401:
            return "HTTP 401: utilizador ou senha errados";
        case 403:
            return "HTTP 403: o servidor não aceita a fonte neste ponto (em uso?)";
        case 404:
            return "HTTP 404: o ponto de montagem não existe";
        case 400:
            return "HTTP 400: pedido recusado";
        case 499:
            return "HTTP 4xx: pedido recusado";
        default:
            return "HTTP 5xx: erro do servidor";
    }
}

}  // namespace

std::string WhyRefused(const Target& t, int& code) {
    code = 0;
    const std::string url = "http://" + t.host + ":" + std::to_string(t.port) + t.mount;
    const std::string headers = "Authorization: Basic " + basicCredentials(t) +
                                "\r\nContent-Type: " + (t.ogg ? "application/ogg" : "audio/mpeg") +
                                "\r\n";
    AVDictionary* options = nullptr;
    av_dict_set(&options, "method", "PUT", 0);
    av_dict_set(&options, "headers", headers.c_str(), 0);
    av_dict_set(&options, "timeout", kAskTimeoutUs, 0);
    av_dict_set(&options, "reconnect", "0", 0);
    AVIOContext* io = nullptr;
    const int err = avio_open2(&io, url.c_str(), AVIO_FLAG_READ, nullptr, &options);
    av_dict_free(&options);
    if (io) avio_closep(&io);  // it accepts now: the source it opened ends at once
    code = statusOf(err);
    return code ? describeStatus(code) : std::string();
}

}  // namespace onair
